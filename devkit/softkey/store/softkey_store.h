// The software key store: every software USB key of the devkit lives in one folder on disk, one
// sub-folder per key named by its serial number. Both stand-ins that play a real key read and
// write it: the key driver "UKeyDriver.dll" (native) and the device library
// "KEVA_QMB4410_LIB.dll" (a Windows DLL, run under Wine on a development machine), so the same key
// answers both. The format is described in devkit/softkey/STORE.md.
//
// Portable C++17 only (std::filesystem, no OpenSSL, no POSIX or Win32 calls), so that it builds
// natively and with mingw-w64.
//
// Consistency between processes: every file is written to a temporary name and renamed into
// place, binary files are named by their content and never rewritten, and the record file that
// names them is replaced last; so a reader never sees half a file or a record pointing at missing
// data. Writers of one key take the key's lock (a lock folder, created atomically), so two
// processes that change the same key (say, both counting down PIN tries) do not lose an update.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace softkey {

using Bytes = std::vector<uint8_t>;

// The PIN every key carries when it leaves the factory (and after a reset).
inline constexpr const char* kFactoryPin = "580914";
inline constexpr int kDefaultMaxRetries = 10;
// A key reports the tries left in the last four bits of its status word (63Cx), so no PIN has
// more than 15.
inline constexpr int kMaxRetriesLimit = 15;
inline constexpr size_t kMaxLabelBytes = 64;
inline constexpr size_t kMaxSerialBytes = 32;
inline constexpr size_t kMaxContainers = 8;
inline constexpr size_t kMaxContainerNameBytes = 255;
inline constexpr size_t kMaxPinBytes = 64;
// The environment variable naming the store folder.
inline constexpr const char* kStoreEnv = "SOFTKEY_STORE";

// Any failure of the store: missing key, bad input, unreadable or unwritable files. The message
// says what and where.
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class Algorithm { RSA, SM2 };
const char* algorithm_name(Algorithm a);                      // "RSA" / "SM2"
bool parse_algorithm(std::string_view text, Algorithm& out);  // case-insensitive

// The user PIN, never kept in clear: a salted, iterated SHA-256 (see STORE.md).
struct PinState {
    std::string salt_hex;    // 32 hex digits (16 random bytes)
    std::string hash_hex;    // 64 hex digits
    bool is_default = true;  // still the factory PIN
    int max_retries = kDefaultMaxRetries;
    int retries_left = kDefaultMaxRetries;  // 0 = blocked

    bool blocked() const { return retries_left <= 0; }
};

// A key container: up to two key pairs, each with its certificate. Empty = absent.
struct Container {
    std::string name;  // ANSI bytes, at most 255, no NUL, CR or LF
    Algorithm algorithm = Algorithm::SM2;
    Bytes sign_cert;  // DER X.509
    Bytes sign_key;   // DER PKCS#8 private key
    Bytes exch_cert;
    Bytes exch_key;
};

struct KeyRecord {
    std::string serial;  // 1 to 32 of A-Z a-z 0-9 - _ (also the folder name)
    std::string label;   // ANSI bytes, at most 64, no NUL, CR or LF
    std::array<uint8_t, 4> cos_version{{1, 0, 0, 0}};
    bool initialised = true;  // false: the key has no label yet (answers "not initialised")
    bool present = true;      // plugged in
    PinState pin;
    std::vector<Container> containers;  // at most 8, in order
    std::vector<Bytes> seals;           // DER electronic seals, in order
    Bytes sign_cert;                    // the key's own signing certificate (DER)
    Bytes sign_key;                     // and its private key (DER PKCS#8, SM2)
};

// Result of a PIN check or change.
enum class PinResult { Ok, Wrong, Blocked };
struct PinOutcome {
    PinResult result = PinResult::Wrong;
    int retries_left = 0;
};

// ---- PIN helpers (pure) -------------------------------------------------------------------

// Sets a new PIN with a fresh salt; resets the tries to the maximum. `is_default` marks the
// factory PIN.
void set_pin(PinState& pin, std::string_view new_pin, bool is_default);
bool pin_matches(const PinState& pin, std::string_view candidate);

// Checks a PIN against the state and counts: a right PIN restores all tries, a wrong one takes
// one away; at 0 the PIN is blocked and even the right PIN is refused.
PinOutcome check_pin(PinState& pin, std::string_view candidate);

// The key's answers as status words (0x8000 and the ISO 7816 status word), as the device library
// and the key driver report them: 0 accepted, 0x800063C0 + tries left for a wrong PIN,
// 0x80006983 blocked.
inline constexpr uint32_t kStatusPinBlocked = 0x80006983u;
inline constexpr uint32_t kStatusWrongPin = 0x800063C0u;
uint32_t status_word(const PinOutcome& outcome);
// The PIN retry state word: tries left in the low byte, the top byte non-zero while the PIN is
// still the factory PIN.
uint32_t retry_state_word(const PinState& pin);

// ---- the store ----------------------------------------------------------------------------

class Store {
  public:
    explicit Store(std::filesystem::path root);

    // SOFTKEY_STORE when set (on Windows a Unix path such as "/tmp/keys" is taken as the Wine
    // drive Z:), otherwise the default documented in STORE.md (under Wine the same folder as
    // natively).
    static std::filesystem::path default_root();

    const std::filesystem::path& root() const { return root_; }

    // Serial numbers of all keys, sorted.
    std::vector<std::string> serials() const;
    bool exists(std::string_view serial) const;

    // The first present key in serial order, or empty.
    std::string first_present() const;

    KeyRecord load(std::string_view serial) const;

    // Creates a new key; fails if the serial is taken or the record is not valid.
    void create(const KeyRecord& record);

    // Read-modify-write of one key under its lock. `change` may throw to abandon the update.
    // Returns the record as stored.
    KeyRecord update(std::string_view serial, const std::function<void(KeyRecord&)>& change);

    void remove(std::string_view serial);

    // PIN operations under the key's lock.
    PinOutcome verify_pin(std::string_view serial, std::string_view pin);
    PinOutcome change_pin(std::string_view serial, std::string_view old_pin,
                          std::string_view new_pin);

  private:
    std::filesystem::path key_dir(std::string_view serial) const;
    std::filesystem::path root_;
};

// Reads keys for a process that reads the same key again and again (the key driver answers
// every call from the key). A key is read whole, record and every binary file; the last read of
// each key is kept together with the text of its record file and handed out again while that
// text is unchanged. The record names every other file of the key by its content and writers
// replace it last, so the same text means the same key, whichever process changed the store.
// (Write times and sizes are no guide: times are as coarse as the system clock tick, and a PIN
// try counted down keeps the size.) Safe for concurrent use.
class CachedReader {
  public:
    // The key as Store::load reads it, failing the same way; the record is shared and never
    // changed.
    std::shared_ptr<const KeyRecord> load(const Store& store, std::string_view serial);

  private:
    struct Entry {
        std::string record_text;
        std::shared_ptr<const KeyRecord> record;
    };
    std::mutex lock_;
    std::map<std::string, Entry> entries_;  // by store folder and serial
};

// Validation used by the store and the tools: an empty string when valid, else the reason.
std::string check_serial(std::string_view serial);
std::string check_label(std::string_view label);
std::string check_record(const KeyRecord& record);

// SHA-256, exposed for the PIN code and for tests.
std::array<uint8_t, 32> sha256(const uint8_t* data, size_t size);
std::string to_hex(const uint8_t* data, size_t size);
bool from_hex(std::string_view hex, Bytes& out);

}  // namespace softkey
