#pragma once
// Bitwise operators for the framework's option and capability sets, opted
// into per enumeration so that unrelated enums keep their type safety.

#include <type_traits>

namespace cadrio::fileprovider {

template <typename E>
struct IsBitFlags : std::false_type {};

template <typename E>
concept BitFlags = std::is_enum_v<E> && IsBitFlags<E>::value;

template <BitFlags E>
constexpr auto toBits(E value) noexcept {
    return static_cast<std::underlying_type_t<E>>(value);
}

template <BitFlags E>
constexpr E operator|(E a, E b) noexcept {
    return static_cast<E>(toBits(a) | toBits(b));
}

template <BitFlags E>
constexpr E operator&(E a, E b) noexcept {
    return static_cast<E>(toBits(a) & toBits(b));
}

template <BitFlags E>
constexpr E operator~(E a) noexcept {
    return static_cast<E>(~toBits(a));
}

template <BitFlags E>
constexpr E& operator|=(E& a, E b) noexcept {
    return a = a | b;
}

template <BitFlags E>
constexpr E& operator&=(E& a, E b) noexcept {
    return a = a & b;
}

/// Every bit of `flags` is set in `set` (true for an empty `flags`).
template <BitFlags E>
constexpr bool contains(E set, E flags) noexcept {
    return (toBits(set) & toBits(flags)) == toBits(flags);
}

}  // namespace cadrio::fileprovider
