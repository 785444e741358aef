// The POP3 reply reader against a plain model of its contract.
//
// Input: a script, "#", then the bytes the server sends. Script letters: g, s, m await a greeting, a
// single-line or a multi-line reply; a digit d hands the reader the next 2^d bytes as one chunk; t
// takes one reply, T all of them; r resets; c and C set a cap of 32 and 512 bytes while nothing is
// held. Bytes left when the script ends arrive as one last chunk.
#include "FuzzCheck.h"
#include "Pop3ReplyReader.h"

#include <QByteArray>
#include <QQueue>

#include <cstdint>

using wrenkit::Pop3ReplyReader;
using Shape = Pop3ReplyReader::Shape;
using Outcome = Pop3ReplyReader::Outcome;

namespace
{

// The contract, read as simply as it is written: complete replies are cut off the bytes held, each
// exactly at its terminator, from scratch after every chunk.
struct Model {
    QQueue<Shape> awaited;
    QQueue<QByteArray> done;
    QByteArray current;
    qsizetype cap = Pop3ReplyReader::DefaultMaxBufferBytes;
    qsizetype dropped = 0;

    qsizetype held() const
    {
        qsizetype bytes = current.size();
        for (const QByteArray &reply : done)
            bytes += reply.size();
        return bytes;
    }

    void reset()
    {
        dropped += held();
        awaited.clear();
        done.clear();
        current.clear();
    }

    Outcome append(const QByteArray &chunk)
    {
        if (chunk.isEmpty())
            return Outcome::Ok;
        if (chunk.size() > cap - held()) {
            dropped += chunk.size();
            return Outcome::TooLarge;
        }
        current += chunk;
        while (!current.isEmpty()) {
            if (awaited.isEmpty())
                return outOfStep();
            const qsizetype crlf = current.indexOf("\r\n");
            if (crlf < 0)
                return Outcome::Ok;
            const char mark = crlf > 0 ? current[0] : 0;
            const Shape shape = awaited.head();
            if (shape != Shape::Greeting && mark != '+' && mark != '-')
                return outOfStep();
            qsizetype end = crlf + 2;
            if (shape == Shape::MultiLine && mark == '+') {
                const qsizetype dot = current.indexOf("\r\n.\r\n", crlf);
                if (dot < 0)
                    return Outcome::Ok;
                end = dot + 5;
            }
            done.enqueue(current.first(end));
            current.remove(0, end);
            awaited.dequeue();
        }
        return Outcome::Ok;
    }

    Outcome outOfStep()
    {
        dropped += current.size();
        current.clear();
        awaited.clear();
        return Outcome::OutOfStep;
    }
};

void checkReply(const Pop3ReplyReader::Reply &reply, const QByteArray &expected)
{
    FUZZ_CHECK(reply.bytes == expected);
    FUZZ_CHECK(reply.bytes.endsWith("\r\n"));
    const qsizetype crlf = reply.bytes.indexOf("\r\n");
    FUZZ_CHECK(reply.mark == (crlf > 0 ? reply.bytes[0] : 0));
    FUZZ_CHECK(reply.statusLine().size() == crlf);
    // A multi-line reply ends at its first lone full stop, never later.
    const qsizetype dot = reply.bytes.indexOf("\r\n.\r\n", crlf);
    FUZZ_CHECK(dot < 0 || dot + 5 == reply.bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype hash = input.indexOf('#');
    const QByteArray script = hash < 0 ? input : input.first(hash);
    const QByteArray stream = hash < 0 ? QByteArray() : input.sliced(hash + 1);

    Pop3ReplyReader reader;
    Model model;
    qsizetype next = 0;
    qsizetype in = 0;
    qsizetype out = 0;

    const auto take = [&] {
        FUZZ_CHECK(reader.hasReply() == !model.done.isEmpty());
        if (!reader.hasReply())
            return false;
        const Pop3ReplyReader::Reply reply = reader.takeReply();
        checkReply(reply, model.done.dequeue());
        out += reply.bytes.size();
        return true;
    };
    const auto give = [&](qsizetype length) {
        const QByteArray chunk = stream.sliced(next, std::min(length, stream.size() - next));
        next += chunk.size();
        in += chunk.size();
        const Outcome expected = model.append(chunk);
        FUZZ_CHECK(reader.append(chunk) == expected);
    };

    for (const char c : script) {
        switch (c) {
        case 'g':
        case 's':
        case 'm': {
            const Shape shape = c == 'g' ? Shape::Greeting : c == 's' ? Shape::SingleLine : Shape::MultiLine;
            reader.expect(shape);
            model.awaited.enqueue(shape);
            break;
        }
        case 't':
            take();
            break;
        case 'T':
            while (take()) {
            }
            break;
        case 'r':
            reader.reset();
            model.reset();
            break;
        case 'c':
        case 'C':
            // A cap is set before bytes are held, as the session does.
            if (reader.heldBytes() == 0) {
                model.cap = c == 'c' ? 32 : 512;
                reader.setMaxBufferBytes(model.cap);
            }
            break;
        default:
            if (c >= '0' && c <= '9')
                give(qsizetype(1) << (c - '0'));
        }
        FUZZ_CHECK(reader.awaited() == model.awaited.size());
        FUZZ_CHECK(reader.heldBytes() == model.held());
        FUZZ_CHECK(reader.heldBytes() <= reader.maxBufferBytes());
        FUZZ_CHECK(in == out + reader.heldBytes() + model.dropped);
    }
    give(stream.size() - next);
    while (take()) {
    }
    FUZZ_CHECK(reader.awaited() == model.awaited.size());
    FUZZ_CHECK(reader.heldBytes() == model.held());
    FUZZ_CHECK(in == out + reader.heldBytes() + model.dropped);
    return 0;
}
