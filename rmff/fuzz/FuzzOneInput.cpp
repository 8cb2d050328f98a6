#include "rmff/fuzz/FuzzOneInput.h"

#include "rmff/MemorySink.h"
#include "rmff/MemorySource.h"
#include "rmff/RmJoiner.h"
#include "rmff/StreamFormat.h"

#include <cstdlib>

namespace corva::rmff {

namespace {

std::size_t ReadAll(RmReader &reader)
{
    std::size_t packets = 0;
    Packet p;
    while (reader.NextPacket(p))
        ++packets;
    for (const IndexHeader &chunk : reader.IndexChunks())
        reader.ReadIndex(chunk, [](const IndexRecord &) {});
    for (const MediaProperties &m : reader.Streams()) {
        (void)StreamFormat::Of(m).NominalUnitMs();
        (void)UnsupportedReason(m);
    }
    return packets;
}

} // namespace

FuzzOutcome FuzzOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    std::size_t packets = 0;
    RmJoiner joiner(JoinTexts{std::string("t"), std::nullopt, std::string("c")});
    try {
        MemorySource source(bytes);
        RmReader reader(source, "fuzz");
        joiner.AddInput(reader);
        joiner.AddInput(reader);
        packets = ReadAll(reader);
    } catch (const RmError &) {
        return FuzzOutcome::Unreadable;
    }
    if (!joiner.Check().empty())
        return FuzzOutcome::Refused;

    MemorySink sink;
    JoinSummary summary;
    try {
        summary = joiner.Write(sink, [bytes](std::size_t) {
            OpenedInput in;
            in.source = std::make_unique<MemorySource>(bytes);
            in.reader = std::make_unique<RmReader>(*in.source, "fuzz");
            return in;
        });
    } catch (const RmError &) {
        return FuzzOutcome::Refused; // e.g. a file without packets, refused while copying
    }

    // What we wrote must read back whole: any RmError from here on escapes as a fault. Every
    // packet is joined, or a warning says what was left out (sound is made into blocks anew).
    MemorySource written(sink.Bytes());
    RmReader back(written, "joined");
    const std::size_t joined = ReadAll(back);
    if (joined != summary.packets || back.Props().numPackets != joined ||
        (joined != 2 * packets && summary.warnings.empty()))
        std::abort();
    return FuzzOutcome::Joined;
}

} // namespace corva::rmff
