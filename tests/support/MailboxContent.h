#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace testsupport
{

// Mailbox contents for the demo and the benchmark: whole RFC 822 messages with CR LF line ends,
// headers as mail programs and list servers write them.
namespace MailboxContent
{

// The From text of the demo message that the demo's settings block.
inline constexpr char demoBlockedSender[] = "Mega Deals <offers@deals.example.biz>";

// Ordinary messages from realistic senders, one from demoBlockedSender, one without a Subject
// header, and one of about 200 KB with an attachment.
QList<QByteArray> demoMessages();

// count messages with varied senders, subjects, dates, MIME structures and some X-Priority
// headers, bodies of 1 to 20 KB. The same seed gives the same messages.
QList<QByteArray> generatedMessages(int count, quint32 seed);

} // namespace MailboxContent

} // namespace testsupport
