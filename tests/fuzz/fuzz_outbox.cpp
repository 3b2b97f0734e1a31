// An outbox file damaged in any way (a power cut, a disk's stray bytes). The
// reader must keep only whole lines and drop the rest: each reading it keeps
// written back as a line reads back the same, the numbers come in order,
// and what follows a damaged part is not lost with it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Outbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const site::OutboxContents found = site::ReadOutbox(bytes);
    std::string rewritten;
    std::uint64_t previous = 0;
    for (const site::OutboxRecord& r : found.waiting) {
        if (r.number <= previous && previous != 0)
            std::abort();  // out of order, or twice
        if (r.number > found.lastNumber || r.message.find('\n') != std::string::npos)
            std::abort();
        previous = r.number;
        rewritten += site::RecordLine(r.number, r.message);
    }
    // What the next start writes reads back as it was.
    const site::OutboxContents again = site::ReadOutbox(rewritten);
    if (again.damaged != 0 || again.waiting.size() != found.waiting.size())
        std::abort();
    for (std::size_t i = 0; i < again.waiting.size(); ++i)
        if (again.waiting[i].number != found.waiting[i].number ||
            again.waiting[i].message != found.waiting[i].message)
            std::abort();
    // A good record after the file's bytes and a line end is always kept.
    const std::string tail =
        std::string(bytes) + "\n" + site::RecordLine(1u << 30, "{\"order\":1}");
    const site::OutboxContents withTail = site::ReadOutbox(tail);
    bool kept = false;
    for (const site::OutboxRecord& r : withTail.waiting)
        kept = kept || (r.number == (1u << 30) && r.message == "{\"order\":1}");
    if (!kept)
        std::abort();
    return 0;
}
