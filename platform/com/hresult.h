#pragma once

#include <cstdint>
#include <string>

// Statuses: a failure has the high bit set. Values are stable and never reused;
// each one we produce has a text behind AMGetErrorText.
using HRESULT = std::int32_t;

constexpr HRESULT MakeStatus(std::uint32_t value) { return static_cast<HRESULT>(value); }

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// General statuses.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeStatus(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeStatus(0x80004002);
inline constexpr HRESULT E_POINTER = MakeStatus(0x80004003);
inline constexpr HRESULT E_ABORT = MakeStatus(0x80004004);
inline constexpr HRESULT E_FAIL = MakeStatus(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeStatus(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeStatus(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeStatus(0x80070057);

// Class objects, apartments, monikers and streams.
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeStatus(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeStatus(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeStatus(0x800401F0);
inline constexpr HRESULT MK_E_NOOBJECT = MakeStatus(0x800401E5);
inline constexpr HRESULT MK_E_SYNTAX = MakeStatus(0x800401E4);
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeStatus(0x800401E3);
inline constexpr HRESULT STG_E_READFAULT = MakeStatus(0x8003001E);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = MakeStatus(0x80030001);
inline constexpr HRESULT STG_E_INVALIDPOINTER = MakeStatus(0x80030009);

// Media-graph statuses.
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeStatus(0x80040200);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeStatus(0x80040204);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeStatus(0x80040207);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeStatus(0x80040209);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeStatus(0x80040217);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MakeStatus(0x80040224);
inline constexpr HRESULT VFW_E_WRONG_STATE = MakeStatus(0x80040227);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeStatus(0x8004025F);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeStatus(0x8004028D);
inline constexpr HRESULT VFW_E_DEVICE_LOST = MakeStatus(0x80040300);
inline constexpr HRESULT VFW_E_STREAM_FAILED = MakeStatus(0x80040301);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeStatus(0x0004022D);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeStatus(0x00040237);
inline constexpr HRESULT VFW_S_PARTIAL_RENDER = MakeStatus(0x00040242);

inline constexpr std::uint32_t kMaxErrorTextLength = 255;

// Writes the text of `status` into `buffer` (at most `max_length` characters
// including the terminating zero) and returns the number of characters written,
// not counting the zero. Unknown statuses get a generic text naming the value.
std::uint32_t AMGetErrorText(HRESULT status, char* buffer, std::uint32_t max_length);

// The same text as a string.
std::string StatusText(HRESULT status);
