// The running program's reader of later starts' messages on arbitrary bytes,
// fed whole and in small pieces: both ways give the same verdict, a complete
// message holds only links that may travel, and encoding it again gives a
// frame that reads back to the same links. The same bytes as the running
// program's outcome line: a count read from it is written back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/incoming/InstanceMessage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tervolo::app::InstanceMessage;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto dropped = InstanceMessage::droppedIn(bytes)) {
        if (InstanceMessage::droppedIn(InstanceMessage::outcome(*dropped)) != dropped) __builtin_trap();
    }

    InstanceMessage::Reader whole;
    whole.append(bytes);
    InstanceMessage::Reader pieces;
    const size_t step = size == 0 ? 1 : 1 + data[0] % 7;
    for (size_t at = 0; at < size; at += step) pieces.append(bytes.substr(at, step));
    if (whole.state() != pieces.state()) __builtin_trap();
    if (whole.state() != InstanceMessage::Reader::State::complete) return 0;
    if (whole.links() != pieces.links()) __builtin_trap();
    for (const auto& link : whole.links()) {
        if (!InstanceMessage::isAcceptableLink(link)) __builtin_trap();
    }
    InstanceMessage::Reader again;
    again.append(InstanceMessage{whole.links()}.encode());
    if (again.state() != InstanceMessage::Reader::State::complete || again.links() != whole.links()) __builtin_trap();
    return 0;
}
