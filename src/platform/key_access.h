// The access rights a key handle is opened with, as far as an offline hive tells them apart.
#pragma once

#include <cstdint>

namespace platform {

namespace rights {
inline constexpr std::uint32_t QueryValue = 0x0001;
inline constexpr std::uint32_t SetValue = 0x0002;
inline constexpr std::uint32_t CreateSubKey = 0x0004;
inline constexpr std::uint32_t CreateLink = 0x0020;
inline constexpr std::uint32_t Delete = 0x00010000;
inline constexpr std::uint32_t WriteDac = 0x00040000;
inline constexpr std::uint32_t WriteOwner = 0x00080000;
inline constexpr std::uint32_t KeyRead = 0x20019;
inline constexpr std::uint32_t KeyWrite = 0x20006;
inline constexpr std::uint32_t KeyAll = 0xF003F;
inline constexpr std::uint32_t GenericRead = 0x80000000;
inline constexpr std::uint32_t GenericWrite = 0x40000000;
inline constexpr std::uint32_t GenericAll = 0x10000000;
inline constexpr std::uint32_t MaximumAllowed = 0x02000000;
// The rights that change the key or what it holds.
inline constexpr std::uint32_t Writing = SetValue | CreateSubKey | CreateLink | Delete | WriteDac | WriteOwner;
} // namespace rights

// The key rights that `desired` asks for: generic rights stand for the key rights they map
// to, and "the most allowed" for all of them.
constexpr std::uint32_t keyRights(std::uint32_t desired) {
    std::uint32_t access = desired;
    if (access & rights::GenericRead) access |= rights::KeyRead;
    if (access & rights::GenericWrite) access |= rights::KeyWrite;
    if (access & (rights::GenericAll | rights::MaximumAllowed)) access |= rights::KeyAll;
    return access;
}

} // namespace platform
