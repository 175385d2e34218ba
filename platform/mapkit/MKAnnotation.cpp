#include "platform/mapkit/MKAnnotation.hpp"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace platform {

std::string MKAnnotation::description() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    // The class alone, as the platform's class names carry no namespace.
    if (const auto colon = name.rfind("::"); colon != std::string::npos) name.erase(0, colon + 2);
    char address[2 + 2 * sizeof(void*) + 1];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "<" + name + ": " + address + ">";
}

}  // namespace platform
