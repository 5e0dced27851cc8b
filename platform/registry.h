#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qvr {

// Result codes with the numbers of the Windows registry functions, which the rest
// of the program and its tests reason in.
enum RegResult : long {
    RegSuccess = 0,
    RegFileNotFound = 2,       // key or value absent
    RegAccessDenied = 5,       // the key was not opened for this kind of access
    RegInvalidHandle = 6,      // the key is not open
    RegMoreData = 234,         // the caller's buffer is too small
    RegBadDb = 1009,           // the hive file cannot be parsed; it is left alone
    RegKeyDeleted = 1018,      // the key vanished between open and write
    RegWriteFault = 29,        // the hive file could not be replaced
    RegInvalidParameter = 87,  // data without a size, or a value name the file cannot hold
};

// A result code in words for the failure log: "settings error 29, the settings file
// could not be replaced".
[[nodiscard]] std::string registryErrorText(long result);

// Value types of the registry.
enum RegType : std::uint32_t {
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
};

enum class RegAccess { Read, Write };

class HiveDocument;

// An open key of the HKEY_LOCAL_MACHINE hive. A key opened for reading sees the
// hive as it was when it was opened; a write goes to the file at once.
class RegistryKey {
public:
    RegistryKey();
    RegistryKey(RegistryKey&&) noexcept;
    RegistryKey& operator=(RegistryKey&&) noexcept;
    ~RegistryKey();

    [[nodiscard]] bool isOpen() const noexcept;
    void close() noexcept;

    // RegQueryValueEx: copies the value's bytes into `data` (which may be null to
    // ask for the size only) and reports its type and size in bytes. RegMoreData,
    // with the needed size in `*size`, when the buffer is too small.
    [[nodiscard]] long queryValue(std::string_view name, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* size) const;

    // Stores `text` as REG_SZ with its terminating NUL (length + 1 bytes).
    [[nodiscard]] long setStringValue(std::string_view name, std::string_view text);

private:
    friend class Registry;
    struct State;
    std::unique_ptr<State> m_state;
};

// What Registry::setAsideUnreadable() found, and what it did.
struct HiveSetAside {
    enum class Outcome {
        Readable,  // the file reads, or there is none to set aside (absent, or not a file)
        Moved,     // it could not be read, and now has the name `keptAs`, unchanged
        Stayed,    // it could not be read, nor be moved (`whyStayed`)
    };
    Outcome outcome = Outcome::Readable;
    std::string why;  // why it could not be read
    std::string keptAs;
    std::string whyStayed;
};

// The machine-wide hive, kept in one REGEDIT4 file (see hivePath()). Keys are never
// created here: they come from the installer.
class Registry {
public:
    enum class Reading {
        Whole,    // a file that is not a hive from end to end opens no key
        Salvage,  // what still reads of a damaged file (HiveDocument::salvage); keys open for reading only
    };
    static constexpr int kMaxSetAside = 9;

    explicit Registry(std::string hivePath, Reading reading = Reading::Whole);

    // Opens HKEY_LOCAL_MACHINE\<subKey> (backslash-separated). RegFileNotFound when
    // the key or the file is absent; RegBadDb when the file cannot be parsed.
    [[nodiscard]] long openKey(std::string_view subKey, RegAccess access, RegistryKey& key) const;

    const std::string& path() const noexcept { return m_hivePath; }

    // A hive file that is there but cannot be read (not ours to read, a read error,
    // too large, not a hive) goes out of the way, unchanged, to the first free name of "<hive>.broken",
    // "<hive>.broken.2" ... up to kMaxSetAside of them, so that a new one can take
    // its place; no file is ever replaced. Writers are kept out meanwhile: the file
    // moved is the one found unreadable, never one a writer has just put there.
    [[nodiscard]] HiveSetAside setAsideUnreadable() const;

private:
    std::string m_hivePath;
    Reading m_reading;
};

} // namespace qvr
