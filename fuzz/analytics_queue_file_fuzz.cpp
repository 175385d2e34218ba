// The analytics queue's files and the crash stub as another program (or a
// torn write) may have left them: the snapshot and the journal must be read or refused, never
// crash; a snapshot that is read writes back to the same bytes' meaning.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analytics/TallyCrashStub.hpp"
#include "analytics/TallyQueueFile.hpp"
#include "analytics/TallyText.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tervolo::analytics;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto snapshot = TallyQueueFile::decodeSnapshot(bytes)) {
        auto again = TallyQueueFile::decodeSnapshot(TallyQueueFile::encodeSnapshot(*snapshot));
        if (!again || again->generation != snapshot->generation ||
            again->requests.size() != snapshot->requests.size()) {
            __builtin_trap();
        }
    }
    for (const auto& entry : TallyQueueFile::decodeJournal(bytes)) {
        (void)tly_valueForQueryStringKey(entry.request, "app_key");
    }
    (void)tly_valueForQueryStringKey(bytes, "user_details");
    // The crash stub a dying process left for the next start.
    (void)TallyCrashStub::read(bytes);
    return 0;
}
