#include "MailboxContent.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>

#include <array>

namespace testsupport::MailboxContent
{

namespace
{

const QByteArray eol = QByteArrayLiteral("\r\n");

const QDateTime baseTime(QDate(2024, 3, 4), QTime(8, 15, 0), Qt::UTC);

template <typename T, std::size_t N> const T &pick(QRandomGenerator &rng, const std::array<T, N> &items)
{
    return items[rng.bounded(quint32(N))];
}

QByteArray rfc2822Date(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toLatin1() +
           " +0000";
}

// Two relays, as most delivered mail carries them; the header folds like real ones do.
QList<QByteArray> receivedHeaders(const QByteArray &senderDomain, const QDateTime &sent, quint32 id)
{
    const QByteArray hex = QByteArray::number(id, 16).toUpper().rightJustified(10, '0');
    const QByteArray relay = "mail-" + QByteArray::number(id % 97) + '.' + senderDomain;
    return {"Received: from " + relay + " (" + relay + " [198.51.100." + QByteArray::number(id % 250 + 1) +
                "])\r\n\tby mx.example.org (Postfix) with ESMTPS id " + hex +
                "\r\n\tfor <you@example.org>; " + rfc2822Date(sent.addSecs(4)),
            "Received: by " + relay + " with SMTP id " + hex.toLower() + "; " + rfc2822Date(sent.addSecs(1))};
}

QByteArray words(QRandomGenerator &rng, qsizetype bytes)
{
    static const std::array<QByteArrayView, 40> vocabulary{
        "the",      "meeting",  "report",   "next",     "week",    "please",  "attached", "budget",
        "we",       "should",   "review",   "before",   "Friday",  "thanks",  "for",      "your",
        "update",   "project",  "schedule", "and",      "team",    "draft",   "numbers",  "about",
        "customer", "feedback", "release",  "planning", "notes",   "with",    "a",        "quick",
        "question", "on",       "the",      "latest",   "version", "changes", "agreed",   "today"};
    QByteArray text;
    QByteArray line;
    int lines = 0;
    while (text.size() + line.size() < bytes) {
        const QByteArrayView word = pick(rng, vocabulary);
        if (line.size() + word.size() + 1 > 72) {
            text += line + eol;
            line.clear();
            if (++lines % 6 == 0)
                text += eol;
        }
        if (!line.isEmpty())
            line += ' ';
        line += word;
    }
    return text + line + eol;
}

QByteArray base64Lines(QRandomGenerator &rng, qsizetype bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char &c : raw)
        c = char(rng.bounded(256));
    const QByteArray encoded = raw.toBase64();
    QByteArray text;
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        text += encoded.mid(i, 76) + eol;
    return text;
}

struct Body {
    QList<QByteArray> headers; // Content-Type and its companions
    QByteArray text;
};

Body plainBody(QRandomGenerator &rng, qsizetype bytes)
{
    return {{"Content-Type: text/plain; charset=utf-8; format=flowed", "Content-Transfer-Encoding: 7bit"},
            words(rng, bytes)};
}

Body alternativeBody(QRandomGenerator &rng, qsizetype bytes, const QByteArray &boundary)
{
    const QByteArray plain = words(rng, bytes / 2);
    const QByteArray html = "<html><body><p>" + words(rng, bytes / 2 - 40) + "</p></body></html>" + eol;
    const QByteArray text = "This is a multi-part message in MIME format." + eol + eol + "--" + boundary +
                            eol + "Content-Type: text/plain; charset=utf-8" + eol + eol + plain + "--" +
                            boundary + eol + "Content-Type: text/html; charset=utf-8" + eol + eol + html +
                            "--" + boundary + "--" + eol;
    return {{"Content-Type: multipart/alternative;\r\n\tboundary=\"" + boundary + '"'}, text};
}

Body attachmentBody(QRandomGenerator &rng, qsizetype bytes, const QByteArray &boundary,
                    const QByteArray &fileName, const QByteArray &mimeType)
{
    const qsizetype textBytes = qMin<qsizetype>(bytes / 4, 2000);
    const QByteArray text = "--" + boundary + eol + "Content-Type: text/plain; charset=utf-8" + eol + eol +
                            words(rng, textBytes) + "--" + boundary + eol + "Content-Type: " + mimeType +
                            "; name=\"" + fileName + '"' + eol +
                            "Content-Disposition: attachment; filename=\"" + fileName + '"' + eol +
                            "Content-Transfer-Encoding: base64" + eol + eol +
                            base64Lines(rng, (bytes - textBytes) * 3 / 4) + "--" + boundary + "--" + eol;
    return {{"Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + '"'}, text};
}

struct Envelope {
    std::optional<QByteArray> from; // the From header's text; no header when absent
    QByteArray senderDomain;
    std::optional<QByteArray> subject;
    QDateTime sent;
    quint32 id = 0;
    QList<QByteArray> extraHeaders; // X-Priority, List-Id, X-Mailer, ...
};

QByteArray assemble(const Envelope &envelope, const Body &body)
{
    QList<QByteArray> headers{"Return-Path: <bounce-" + QByteArray::number(envelope.id) + '@' +
                              envelope.senderDomain + '>'};
    headers += receivedHeaders(envelope.senderDomain, envelope.sent, envelope.id);
    if (envelope.from)
        headers += "From: " + *envelope.from;
    headers += "To: You <you@example.org>";
    if (envelope.subject)
        headers += "Subject: " + *envelope.subject;
    headers += "Date: " + rfc2822Date(envelope.sent);
    headers += "Message-ID: <" + QByteArray::number(envelope.id, 16) + '.' +
               QByteArray::number(envelope.sent.toSecsSinceEpoch()) + '@' + envelope.senderDomain + '>';
    headers += envelope.extraHeaders;
    headers += "MIME-Version: 1.0";
    headers += body.headers;
    return headers.join(eol) + eol + eol + body.text;
}

} // namespace

QList<QByteArray> demoMessages()
{
    QRandomGenerator rng(2024);
    const auto at = [](int minutes) { return baseTime.addSecs(minutes * 60); };
    QList<QByteArray> messages;
    messages += assemble({"Anna Berg <anna.berg@example.org>",
                          "example.org",
                          "Minutes of Tuesday's team meeting",
                          at(0),
                          0x1a01,
                          {"X-Mailer: Thunderbird 115.8"}},
                         plainBody(rng, 3000));
    messages += assemble({"GitLab <gitlab@git.example.com>",
                          "git.example.com",
                          "Pipeline #4812 passed for main",
                          at(12),
                          0x1a02,
                          {"List-Id: <ci.git.example.com>", "Auto-Submitted: auto-generated"}},
                         alternativeBody(rng, 6000, "gl-boundary-4812"));
    messages += assemble({QByteArray(demoBlockedSender),
                          "deals.example.biz",
                          "You have been selected for a FREE cruise!",
                          at(31),
                          0x1a03,
                          {"X-Priority: 1 (Highest)", "Precedence: bulk"}},
                         alternativeBody(rng, 9000, "deals-7f3a"));
    messages += assemble({"Jonas Weber <j.weber@example.net>",
                          "example.net",
                          "Re: Weekend in the mountains?",
                          at(47),
                          0x1a04,
                          {"In-Reply-To: <1999.1709500000@example.org>"}},
                         plainBody(rng, 1800));
    messages += assemble({"Scanner Room 2 <scanner@office.example.org>",
                          "office.example.org",
                          std::nullopt,
                          at(58),
                          0x1a05,
                          {"X-Mailer: ScanStation 3.1"}},
                         plainBody(rng, 400));
    messages += assemble({"Photo Service <prints@photos.example.com>",
                          "photos.example.com",
                          "Your holiday photos are ready",
                          at(75),
                          0x1a06,
                          {}},
                         attachmentBody(rng, 200 * 1024, "photo-0042", "beach.jpg", "image/jpeg"));
    messages +=
        assemble({"Carla Mendes <carla@mendes.example.pt>",
                  "mendes.example.pt",
                  "Invoice 2024-031",
                  at(93),
                  0x1a07,
                  {"X-Priority: 3 (Normal)"}},
                 attachmentBody(rng, 18 * 1024, "inv-2024-031", "invoice-2024-031.pdf", "application/pdf"));
    return messages;
}

QList<QByteArray> generatedMessages(int count, quint32 seed)
{
    static const std::array<QByteArrayView, 16> firstNames{"Anna",  "Ben",  "Carla", "David", "Elif", "Femi",
                                                           "Greta", "Hugo", "Ines",  "Jonas", "Kiri", "Lena",
                                                           "Marek", "Nora", "Oskar", "Priya"};
    static const std::array<QByteArrayView, 12> lastNames{"Berg",   "Okafor",   "Mendes", "Novak",
                                                          "Weber",  "Larsen",   "Rossi",  "Tanaka",
                                                          "Dubois", "Kowalski", "Singh",  "Moreau"};
    static const std::array<QByteArrayView, 8> domains{
        "example.org",        "example.net",   "mail.example.com", "corp.example",
        "university.example", "example.co.uk", "shop.example.de",  "lists.example.org"};
    static const std::array<QByteArrayView, 16> topics{"Quarterly report",     "Lunch on Thursday?",
                                                       "Release 2.4 planning", "Your order has shipped",
                                                       "Budget review",        "Conference travel",
                                                       "Build failed on main", "Invitation: design review",
                                                       "Holiday schedule",     "Updated contract draft",
                                                       "Weekly newsletter",    "Password reset request",
                                                       "Customer feedback",    "Server maintenance tonight",
                                                       "Photos from Saturday", "Question about the invoice"};
    static const std::array<QByteArrayView, 5> subjectForms{"%1", "Re: %1", "Fwd: %1", "[team] %1",
                                                            "RE: Re: %1"};
    static const std::array<QByteArrayView, 3> priorities{"X-Priority: 1 (Highest)", "X-Priority: 3 (Normal)",
                                                          "X-Priority: 5 (Lowest)"};
    static const std::array<QByteArrayView, 4> mailers{
        "X-Mailer: Thunderbird 115.8", "X-Mailer: Apple Mail (2.3774)", "User-Agent: Mutt/2.2.9",
        "X-Mailer: Microsoft Outlook 16.0"};

    QRandomGenerator rng(seed);
    QList<QByteArray> messages;
    QDateTime sent = baseTime;
    for (int i = 0; i < count; ++i) {
        const QByteArray first = pick(rng, firstNames).toByteArray();
        const QByteArray last = pick(rng, lastNames).toByteArray();
        const QByteArray domain = pick(rng, domains).toByteArray();
        const QByteArray address = (first + '.' + last).toLower() + '@' + domain;
        QByteArray from;
        switch (rng.bounded(3)) {
        case 0:
            from = first + ' ' + last + " <" + address + '>';
            break;
        case 1:
            from = '"' + last + ", " + first + "\" <" + address + '>';
            break;
        default:
            from = address;
        }
        const QByteArray subject =
            pick(rng, subjectForms).toByteArray().replace("%1", pick(rng, topics).toByteArray());

        Envelope envelope{from, domain, subject, sent, quint32(0x10000 + i), {}};
        if (rng.bounded(4) == 0)
            envelope.extraHeaders += pick(rng, priorities).toByteArray();
        envelope.extraHeaders += pick(rng, mailers).toByteArray();
        if (domain.startsWith("lists."))
            envelope.extraHeaders += "List-Id: <team." + domain + '>';

        const qsizetype bodyBytes = 1024 + rng.bounded(19 * 1024);
        const QByteArray boundary =
            "b" + QByteArray::number(envelope.id, 16) + "-" + QByteArray::number(seed);
        const quint32 kind = rng.bounded(20);
        const Body body = kind < 12 ? plainBody(rng, bodyBytes)
                          : kind < 17
                              ? alternativeBody(rng, bodyBytes, boundary)
                              : attachmentBody(rng, bodyBytes, boundary, "notes.pdf", "application/pdf");
        messages += assemble(envelope, body);
        sent = sent.addSecs(60 + rng.bounded(900));
    }
    return messages;
}

} // namespace testsupport::MailboxContent
