#pragma once

#include <cassert>
#include <utility>
#include <variant>

#include "platform/foundation/Error.hpp"

namespace platform {

// The value of an operation that can fail: either a T or an Error, never both.
// Operations without a value return std::optional<Error> (empty = success).
template <class T>
class Result {
  public:
    Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : storage_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return storage_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(storage_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(storage_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(storage_));
    }
    const Error& error() const {
        assert(!ok());
        return std::get<1>(storage_);
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

  private:
    std::variant<T, Error> storage_;
};

}  // namespace platform
