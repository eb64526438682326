// The instance work that platform match records and node groups share: reporting a catalogue
// message to the error text and the platform log, reading every instance of a class, reading
// and writing properties with their messages, spawning a new instance of a class, and quoting
// a key value for an object path.
#pragma once
#include <functional>
#include <memory>

#include "platform/com/hresult.h"
#include "platform/text/wstring.h"
#include "platform/wmi/wbemcli.h"

class VrLogFile;

namespace PlatformOperations::MatchGroupsSupport {

// "0x%08X", the form every message shows a status code in.
WString HrText(HRESULT hr);

// Appends a formatted message to the error text and, as a line, to the platform log.
void Report(WString& error, VrLogFile& log, const WString& message);

// Enumerates every instance of a class and hands each to visit, stopping at the first failure
// of visit (whose result is returned). A failed enumeration (creating it, or any Next that
// neither returns an object nor says the end was reached) reports message 3028 and gives
// E_FAIL: a list cut short would make the planning treat existing records as missing.
HRESULT ForEachInstance(IWbemServices* services, const WChar* className,
                        const std::function<HRESULT(IWbemClassObject&)>& visit, WString& error,
                        VrLogFile& log, size_t* count = nullptr);

// Reads a string or an integer property; a null value reads as empty or 0. A failed Get or a
// value of another kind reports message 3029 (property, value text, code) and gives E_FAIL.
HRESULT ReadString(IWbemClassObject& object, const WChar* property, WString& value, WString& error,
                   VrLogFile& log);
HRESULT ReadInt(IWbemClassObject& object, const WChar* property, int32_t& value, WString& error,
                VrLogFile& log);

// Writes a property of an instance; a failure reports message 2021 (property, value, code) and
// gives E_FAIL.
HRESULT WriteString(IWbemClassObject& instance, const WChar* property, const WString& value,
                    WString& error, VrLogFile& log);
HRESULT WriteInt(IWbemClassObject& instance, const WChar* property, int32_t value, WString& error,
                 VrLogFile& log);

// GetObject of the class (message 3018 on failure) and SpawnInstance (message 3019); E_FAIL on
// failure.
HRESULT SpawnInstanceOf(IWbemServices* services, const WChar* className,
                        std::shared_ptr<IWbemClassObject>& instance, WString& error, VrLogFile& log);

// PutInstance, create or update (message 3026 on failure); E_FAIL on failure.
HRESULT PutNewInstance(IWbemServices* services, IWbemClassObject& instance, WString& error, VrLogFile& log);

// DeleteInstance of a path (message 3020 with the path on failure). The code of the call is
// returned so that a caller can tell an instance that is already gone.
HRESULT DeleteInstanceAt(IWbemServices* services, const WString& path, WString& error, VrLogFile& log,
                         bool reportNotFound = true);

// A string key value between double quotes as an object path writes it: a double quote or a
// backslash inside gains a backslash, so that a value holding one still names its instance.
WString QuotedKey(WStringView value);

}  // namespace PlatformOperations::MatchGroupsSupport
