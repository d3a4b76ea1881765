// Server bytes, as a hostile server may send them, through everything that reads
// them: the framing of responses (with literals streamed out), the parser, and
// what a command makes of the parsed response (flags, labels, GMime headers).
// Besides not crashing or leaking, it checks that framing does not depend on how
// the bytes are cut into reads, and that folder names survive the modified UTF-7
// round trip.
#include "platform/imap/TDWImapBodySink.h"
#include "platform/imap/TDWImapCommand.h"
#include "platform/imap/TDWImapModifiedUtf7.h"
#include "platform/imap/TDWImapParser.h"
#include "platform/imap/TDWImapResponseReader.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct Framed
{
    std::vector<QByteArray> texts;
    QByteArray streamed;
    bool ok = true;
};

Framed frame(const QByteArray &input, qsizetype chunk)
{
    TDWImapResponseReader::Limits limits;
    limits.maxLine = 4096;
    limits.maxInlineLiteral = 512;
    limits.maxResponse = 16384;
    TDWImapResponseReader reader(limits);
    Framed out;
    TDWImapBodySink sink;
    reader.setLiteralRouter([&](const QByteArray &, const QByteArray &line, qint64) -> TDWImapBodySink * {
        return line.endsWith("BODY[] ") ? &sink : nullptr;
    });
    reader.setResponseHandler([&](const QByteArray &text, const QList<TDWImapBodySink *> &) {
        if (text.size() > limits.maxResponse + limits.maxLine)
            std::abort();
        out.texts.push_back(text);
    });
    for (qsizetype pos = 0; pos < input.size() && out.ok; pos += chunk)
        out.ok = reader.feed(input.constData() + pos, std::min(chunk, input.size() - pos));
    out.streamed = sink.data();
    return out;
}

void use(const TDWImapResponse &r)
{
    if (r.kind == TDWImapResponse::Kind::List || r.kind == TDWImapResponse::Kind::Status) {
        const QString decoded = TDWImapModifiedUtf7::decode(r.mailbox);
        // Every readable name must survive a trip to the wire form and back,
        // and one to UTF-8 (no lone surrogates, which would read as "?").
        if (TDWImapModifiedUtf7::decode(TDWImapModifiedUtf7::encode(decoded)) != decoded)
            std::abort();
        if (QString::fromUtf8(decoded.toUtf8()) != decoded)
            std::abort();
        TDWImapParser::folderFlagsFromAttributes(r.atoms);
    }
    if (r.kind == TDWImapResponse::Kind::Fetch) {
        auto command = TDWImapCommand::fetch(QStringLiteral("INBOX"), false, TDWImapIndexSet::fromRange(1, UINT32_MAX), 0x7ff);
        TDWImapCommand::WireContext context;
        context.messageCount = UINT32_MAX;
        command->wireParts("T1", context);
        command->handleResponse(r, {});
        for (const TDWImapMessage &m : command->messages())
            if (m.sequenceNumber != r.number)
                std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const Framed whole = frame(input, std::max<qsizetype>(1, input.size()));
    const Framed pieces = frame(input, 1 + (size ? data[0] % 7 : 0));
    if (whole.ok != pieces.ok || (whole.ok && (whole.texts != pieces.texts || whole.streamed != pieces.streamed)))
        std::abort();
    for (const QByteArray &text : whole.texts) {
        try {
            use(TDWImapParser::parseResponse(text));
        } catch (const TDWImapParseError &) {
        }
    }
    return 0;
}
