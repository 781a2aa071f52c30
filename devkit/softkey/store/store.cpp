// The software key store: folders, record file, content-named binary files, the key lock and the
// PIN logic. Format: devkit/softkey/STORE.md.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "softkey_store.h"

namespace fs = std::filesystem;

namespace softkey {
namespace {

constexpr const char* kRecordFile = "key.txt";
constexpr const char* kLockDir = ".lock";
// Format 2 ends every record with an "end" line, so a cut record is told from a whole one.
// Format 1 records (the same without that line) are still read.
constexpr int kFormat = 2;
constexpr int kPinRounds = 4096;
constexpr const char* kLockStamp = "taken";
// A lock older than this belongs to a writer that died; writers hold it for milliseconds.
constexpr long long kStaleLockSeconds = 10;
constexpr auto kLockWait = std::chrono::seconds(15);

std::string random_hex(size_t bytes) {
    std::random_device rd;
    Bytes b(bytes);
    for (auto& x : b) x = uint8_t(rd());
    return to_hex(b.data(), b.size());
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// A Unix path seen from a Windows program under Wine lives on drive Z:.
fs::path host_path(const std::string& text) {
#if defined(_WIN32)
    if (!text.empty() && text[0] == '/') return fs::path("Z:" + text);
#endif
    return fs::path(text);
}

std::string content_name(const char* prefix, const Bytes& data) {
    auto h = sha256(data.data(), data.size());
    return std::string(prefix) + "-" + to_hex(h.data(), 16) + ".der";
}

// A file could not be opened: a writer replaced the record and removed the file between our
// reads, or (Windows) is replacing or deleting it this moment. Reading again settles it; a store
// that is really damaged fails the same way every time.
struct UnreadableFile : StoreError {
    using StoreError::StoreError;
};

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        bool there = fs::exists(path, ec);
        throw UnreadableFile((there ? "cannot read " : "missing ") + path.u8string());
    }
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw StoreError("cannot read " + path.u8string());
    return data;
}

// Writes under a temporary name in the same folder, then renames over the target, so the target
// is either the old or the new content. On Windows a rename over a file another process has open
// fails for a moment; it is retried.
void write_atomically(const fs::path& target, const void* data, size_t size) {
    fs::path tmp = target.parent_path() / (".tmp-" + random_hex(8));
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) throw StoreError("cannot write " + tmp.u8string());
        out.write(static_cast<const char*>(data), std::streamsize(size));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ignored;
            fs::remove(tmp, ignored);
            throw StoreError("cannot write " + tmp.u8string());
        }
    }
    std::error_code ec;
    for (int attempt = 0; attempt < 200; ++attempt) {
        fs::rename(tmp, target, ec);
        if (!ec) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::error_code ignored;
    fs::remove(tmp, ignored);
    throw StoreError("cannot replace " + target.u8string() + ": " + ec.message());
}

// Content-named files are never rewritten: an existing name already holds these bytes.
std::string store_blob(const fs::path& dir, const char* prefix, const Bytes& data) {
    if (data.empty()) return {};
    std::string name = content_name(prefix, data);
    std::error_code ec;
    if (!fs::exists(dir / name, ec)) write_atomically(dir / name, data.data(), data.size());
    return name;
}

// The writer lock of one key: a folder created atomically, on every file system and on both
// platforms. Threads of one process and other processes wait for each other alike. The holder
// writes the time it took the lock into the folder, so a lock left by a writer that died can be
// told from one in use.
class KeyLock {
  public:
    explicit KeyLock(const fs::path& key_dir) : path_(key_dir / kLockDir) {
        auto start = std::chrono::steady_clock::now();
        auto deadline = start + kLockWait;
        auto next_stale_check = start + std::chrono::seconds(1);
        std::error_code ec;
        for (;;) {
            ec.clear();
            if (fs::create_directory(path_, ec)) break;
            // Windows refuses the creation for a moment while another writer's lock folder is
            // being deleted; that is waiting too.
            if (!fs::exists(key_dir, ec)) throw StoreError("no key folder " + key_dir.u8string());
            // Looked at now and then only: on Windows a waiter reading the stamp keeps the holder
            // from deleting it.
            auto now = std::chrono::steady_clock::now();
            if (now >= next_stale_check) {
                next_stale_check = now + std::chrono::seconds(1);
                if (is_stale()) {
                    fs::remove_all(path_, ec);
                    continue;
                }
            }
            if (std::chrono::steady_clock::now() > deadline)
                throw StoreError("key is locked by another writer: " + key_dir.u8string());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::string stamp = std::to_string(now_seconds());
        std::ofstream(path_ / kLockStamp, std::ios::binary) << stamp;
    }
    ~KeyLock() {
        // Windows may refuse for a moment while another process looks at the stamp.
        for (int attempt = 0; attempt < 500; ++attempt) {
            std::error_code ec;
            fs::remove_all(path_, ec);
            if (!ec) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    KeyLock(const KeyLock&) = delete;
    KeyLock& operator=(const KeyLock&) = delete;

    static long long now_seconds() {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

  private:
    bool is_stale() const {
        std::ifstream in(path_ / kLockStamp, std::ios::binary);
        long long taken = 0;
        if (in >> taken) return now_seconds() - taken > kStaleLockSeconds;
        // No stamp yet: the holder is between creating the folder and writing it, or died
        // there. The folder's own time tells.
        std::error_code ec;
        auto made = fs::last_write_time(path_, ec);
        return !ec &&
               fs::file_time_type::clock::now() - made > std::chrono::seconds(kStaleLockSeconds);
    }
    fs::path path_;
};

bool has_line_breaks(std::string_view s) {
    return s.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

// Overwrites a buffer that held a PIN before it goes back to the heap.
void wipe(Bytes& b) {
    volatile uint8_t* p = b.data();
    for (size_t i = 0; i < b.size(); ++i) p[i] = 0;
}

std::string pin_digest(std::string_view salt_hex, std::string_view pin) {
    Bytes salt;
    from_hex(salt_hex, salt);
    // One block, sized up front (a growing buffer would leave copies of the PIN behind), and
    // wiped once hashed.
    Bytes buf;
    buf.reserve(salt.size() + pin.size());
    buf.insert(buf.end(), salt.begin(), salt.end());
    buf.insert(buf.end(), pin.begin(), pin.end());
    auto h = sha256(buf.data(), buf.size());
    wipe(buf);
    for (int i = 1; i < kPinRounds; ++i) {
        Bytes round(h.begin(), h.end());
        round.insert(round.end(), salt.begin(), salt.end());
        h = sha256(round.data(), round.size());
    }
    return to_hex(h.data(), h.size());
}

// ---- record text --------------------------------------------------------------------------

struct Names {  // file names of the binary parts, as written in the record
    std::string sign_cert, sign_key;
    std::vector<std::array<std::string, 4>> containers;  // sign cert, sign key, exch cert, exch key
    std::vector<std::string> seals;
};

std::string record_text(const KeyRecord& r, const Names& n) {
    std::ostringstream o;
    o << "# software USB key record (devkit/softkey/STORE.md)\n";
    o << "format=" << kFormat << "\n";
    o << "serial=" << r.serial << "\n";
    o << "label=" << r.label << "\n";
    o << "cos_version=" << to_hex(r.cos_version.data(), 4) << "\n";
    o << "initialised=" << (r.initialised ? 1 : 0) << "\n";
    o << "present=" << (r.present ? 1 : 0) << "\n";
    o << "pin_salt=" << r.pin.salt_hex << "\n";
    o << "pin_hash=" << r.pin.hash_hex << "\n";
    o << "pin_default=" << (r.pin.is_default ? 1 : 0) << "\n";
    o << "pin_max_retries=" << r.pin.max_retries << "\n";
    o << "pin_retries=" << r.pin.retries_left << "\n";
    o << "sign_cert=" << n.sign_cert << "\n";
    o << "sign_key=" << n.sign_key << "\n";
    for (size_t i = 0; i < r.containers.size(); ++i) {
        const auto& c = r.containers[i];
        std::string p = "container." + std::to_string(i) + ".";
        o << p << "name=" << c.name << "\n";
        o << p << "algorithm=" << algorithm_name(c.algorithm) << "\n";
        o << p << "sign_cert=" << n.containers[i][0] << "\n";
        o << p << "sign_key=" << n.containers[i][1] << "\n";
        o << p << "exch_cert=" << n.containers[i][2] << "\n";
        o << p << "exch_key=" << n.containers[i][3] << "\n";
    }
    for (size_t i = 0; i < n.seals.size(); ++i) o << "seal." << i << "=" << n.seals[i] << "\n";
    o << "end=" << r.serial << "\n";
    return o.str();
}

int to_int(const std::string& v, const std::string& what) {
    try {
        size_t used = 0;
        int x = std::stoi(v, &used);
        if (used != v.size()) throw std::invalid_argument(v);
        return x;
    } catch (const std::exception&) {
        throw StoreError("bad number for " + what + ": '" + v + "'");
    }
}

// A file name in the record must be a plain name inside the key folder.
std::string checked_name(const std::string& v) {
    if (v.find_first_of("/\\:") != std::string::npos || v == "." || v == "..")
        throw StoreError("bad file name in record: '" + v + "'");
    return v;
}

KeyRecord parse_record(const std::string& text, const fs::path& dir) {
    std::map<std::string, std::string> kv;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) throw StoreError("bad line in record: '" + line + "'");
        kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    auto get = [&](const std::string& k) {
        auto it = kv.find(k);
        return it == kv.end() ? std::string() : it->second;
    };
    auto need = [&](const std::string& k) {
        auto it = kv.find(k);
        if (it == kv.end()) throw StoreError("record lacks '" + k + "'");
        return it->second;
    };
    auto blob = [&](const std::string& k) {
        std::string v = get(k);
        return v.empty() ? Bytes() : read_file(dir / checked_name(v));
    };

    int format = to_int(need("format"), "format");
    if (format < 1 || format > kFormat)
        throw StoreError("record format " + std::to_string(format) + " is not supported");
    if (format >= 2 &&
        (text.empty() || text.back() != '\n' || !kv.count("end") || get("end") != get("serial")))
        throw StoreError("record is cut short (no end line)");

    KeyRecord r;
    r.serial = need("serial");
    r.label = get("label");
    Bytes cos;
    if (!from_hex(need("cos_version"), cos) || cos.size() != 4) throw StoreError("bad cos_version");
    std::copy(cos.begin(), cos.end(), r.cos_version.begin());
    r.initialised = get("initialised") != "0";
    r.present = get("present") != "0";
    r.pin.salt_hex = need("pin_salt");
    r.pin.hash_hex = need("pin_hash");
    r.pin.is_default = get("pin_default") == "1";
    r.pin.max_retries = to_int(need("pin_max_retries"), "pin_max_retries");
    r.pin.retries_left = to_int(need("pin_retries"), "pin_retries");
    r.sign_cert = blob("sign_cert");
    r.sign_key = blob("sign_key");
    for (size_t i = 0;; ++i) {
        std::string p = "container." + std::to_string(i) + ".";
        if (!kv.count(p + "name")) break;
        Container c;
        c.name = get(p + "name");
        if (!parse_algorithm(get(p + "algorithm"), c.algorithm))
            throw StoreError("bad algorithm in " + p + "algorithm");
        c.sign_cert = blob(p + "sign_cert");
        c.sign_key = blob(p + "sign_key");
        c.exch_cert = blob(p + "exch_cert");
        c.exch_key = blob(p + "exch_key");
        r.containers.push_back(std::move(c));
    }
    for (size_t i = 0;; ++i) {
        std::string k = "seal." + std::to_string(i);
        if (!kv.count(k)) break;
        r.seals.push_back(blob(k));
    }
    return r;
}

// Writes the binary parts, then the record, then removes files no record names any more.
void write_key(const fs::path& dir, const KeyRecord& r) {
    Names n;
    n.sign_cert = store_blob(dir, "cert", r.sign_cert);
    n.sign_key = store_blob(dir, "key", r.sign_key);
    for (const auto& c : r.containers)
        n.containers.push_back(
            {store_blob(dir, "cert", c.sign_cert), store_blob(dir, "key", c.sign_key),
             store_blob(dir, "cert", c.exch_cert), store_blob(dir, "key", c.exch_key)});
    for (const auto& s : r.seals) n.seals.push_back(store_blob(dir, "seal", s));
    std::string text = record_text(r, n);
    write_atomically(dir / kRecordFile, text.data(), text.size());

    std::set<std::string> used{n.sign_cert, n.sign_key};
    for (const auto& c : n.containers) used.insert(c.begin(), c.end());
    used.insert(n.seals.begin(), n.seals.end());
    std::error_code ec;
    auto now = fs::file_time_type::clock::now();
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::string name = entry.path().filename().u8string();
        std::error_code e2;
        bool unused_blob =
            name.size() > 4 && name.compare(name.size() - 4, 4, ".der") == 0 && !used.count(name);
        // Temporary files of a writer that died half-way.
        bool stale_tmp = name.rfind(".tmp-", 0) == 0 &&
                         now - fs::last_write_time(entry.path(), e2) > std::chrono::minutes(1);
        if (unused_blob || stale_tmp) fs::remove(entry.path(), e2);
    }
}

}  // namespace

// ---- names and checks ---------------------------------------------------------------------

const char* algorithm_name(Algorithm a) { return a == Algorithm::RSA ? "RSA" : "SM2"; }

bool parse_algorithm(std::string_view text, Algorithm& out) {
    std::string t(text);
    for (auto& ch : t) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    if (t == "RSA")
        out = Algorithm::RSA;
    else if (t == "SM2")
        out = Algorithm::SM2;
    else
        return false;
    return true;
}

std::string check_serial(std::string_view serial) {
    if (serial.empty()) return "the serial number is empty";
    if (serial.size() > kMaxSerialBytes)
        return "the serial number is longer than " + std::to_string(kMaxSerialBytes) +
               " characters";
    for (char ch : serial)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '-' && ch != '_')
            return "the serial number may hold only letters, digits, '-' and '_'";
    return {};
}

std::string check_label(std::string_view label) {
    if (label.size() > kMaxLabelBytes)
        return "the label is longer than " + std::to_string(kMaxLabelBytes) + " bytes";
    if (has_line_breaks(label)) return "the label holds a line break or a NUL byte";
    return {};
}

std::string check_record(const KeyRecord& r) {
    if (auto e = check_serial(r.serial); !e.empty()) return e;
    if (auto e = check_label(r.label); !e.empty()) return e;
    if (r.containers.size() > kMaxContainers)
        return "a key holds at most " + std::to_string(kMaxContainers) + " containers";
    for (const auto& c : r.containers) {
        if (c.name.empty() || c.name.size() > kMaxContainerNameBytes || has_line_breaks(c.name))
            return "container name must be 1 to 255 bytes without line breaks";
    }
    Bytes salt, hash;
    if (!from_hex(r.pin.salt_hex, salt) || salt.empty() || !from_hex(r.pin.hash_hex, hash) ||
        hash.size() != 32)
        return "the PIN has not been set";
    if (r.pin.max_retries < 1 || r.pin.max_retries > kMaxRetriesLimit)
        return "PIN tries must be 1 to " + std::to_string(kMaxRetriesLimit);
    if (r.pin.retries_left < 0 || r.pin.retries_left > r.pin.max_retries)
        return "PIN tries left must be 0 to the maximum";
    return {};
}

// ---- PIN ----------------------------------------------------------------------------------

void set_pin(PinState& pin, std::string_view new_pin, bool is_default) {
    if (new_pin.empty() || new_pin.size() > kMaxPinBytes)
        throw StoreError("a PIN must be 1 to " + std::to_string(kMaxPinBytes) + " bytes");
    pin.salt_hex = random_hex(16);
    pin.hash_hex = pin_digest(pin.salt_hex, new_pin);
    pin.is_default = is_default;
    pin.retries_left = pin.max_retries;
}

bool pin_matches(const PinState& pin, std::string_view candidate) {
    if (candidate.size() > kMaxPinBytes || pin.salt_hex.empty()) return false;
    std::string digest = pin_digest(pin.salt_hex, candidate);
    // Compare every byte so the time taken says nothing about the PIN.
    if (digest.size() != pin.hash_hex.size()) return false;
    unsigned diff = 0;
    for (size_t i = 0; i < digest.size(); ++i) diff |= unsigned(digest[i] ^ pin.hash_hex[i]);
    return diff == 0;
}

PinOutcome check_pin(PinState& pin, std::string_view candidate) {
    if (pin.blocked()) return {PinResult::Blocked, 0};
    if (pin_matches(pin, candidate)) {
        pin.retries_left = pin.max_retries;
        return {PinResult::Ok, pin.retries_left};
    }
    --pin.retries_left;
    return {PinResult::Wrong, pin.retries_left};
}

uint32_t status_word(const PinOutcome& outcome) {
    switch (outcome.result) {
        case PinResult::Ok:
            return 0;
        case PinResult::Blocked:
            return kStatusPinBlocked;
        case PinResult::Wrong:
            return kStatusWrongPin + uint32_t(outcome.retries_left & 0x0F);
    }
    return kStatusPinBlocked;
}

uint32_t retry_state_word(const PinState& pin) {
    uint32_t left = uint32_t(pin.retries_left < 0 ? 0 : pin.retries_left) & 0xFF;
    return (pin.is_default ? 0x01000000u : 0u) | left;
}

// ---- Store --------------------------------------------------------------------------------

Store::Store(fs::path root) : root_(std::move(root)) {}

fs::path Store::default_root() {
    std::string v = env(kStoreEnv);
    if (!v.empty()) return host_path(v);
#if defined(_WIN32)
    // Under Wine, share the native tools' store: the same folder reached through drive Z:.
    std::string data = env("XDG_DATA_HOME");
    if (!data.empty() && data[0] == '/') return host_path(data) / "ukeykit" / "softkey";
    std::string home = env("WINEHOMEDIR");  // "\??\Z:\home\user"
    if (home.rfind("\\??\\", 0) == 0) home.erase(0, 4);
    if (!home.empty()) return fs::path(home) / ".local" / "share" / "ukeykit" / "softkey";
    std::string local = env("LOCALAPPDATA");
    if (!local.empty()) return fs::path(local) / "UKeyKit" / "softkey";
    return fs::path("softkey-store");
#else
    std::string data = env("XDG_DATA_HOME");
    if (!data.empty()) return fs::path(data) / "ukeykit" / "softkey";
    std::string home = env("HOME");
    if (!home.empty()) return fs::path(home) / ".local" / "share" / "ukeykit" / "softkey";
    return fs::path("softkey-store");
#endif
}

fs::path Store::key_dir(std::string_view serial) const {
    if (auto e = check_serial(serial); !e.empty()) throw StoreError(e);
    return root_ / std::string(serial);
}

std::vector<std::string> Store::serials() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        std::string name = entry.path().filename().u8string();
        std::error_code e2;
        if (check_serial(name).empty() && fs::is_regular_file(entry.path() / kRecordFile, e2))
            out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool Store::exists(std::string_view serial) const {
    if (!check_serial(serial).empty()) return false;
    std::error_code ec;
    return fs::is_regular_file(root_ / std::string(serial) / kRecordFile, ec);
}

std::string Store::first_present() const {
    for (const auto& s : serials()) {
        try {
            if (load(s).present) return s;
        } catch (const StoreError&) {
            // A damaged key is skipped, as a real reader skips a key it cannot talk to.
        }
    }
    return {};
}

KeyRecord Store::load(std::string_view serial) const {
    fs::path dir = key_dir(serial);
    // A writer may replace the record and remove the files the old one named between our two
    // reads; the new record is then complete, so read again.
    for (int attempt = 0;; ++attempt) {
        std::error_code ec;
        if (!fs::is_regular_file(dir / kRecordFile, ec))
            throw StoreError("no key with serial " + std::string(serial) + " in " +
                             root_.u8string());
        try {
            Bytes text = read_file(dir / kRecordFile);
            KeyRecord r = parse_record(std::string(text.begin(), text.end()), dir);
            if (r.serial != serial)
                throw StoreError("record in folder " + std::string(serial) + " names serial " +
                                 r.serial);
            return r;
        } catch (const UnreadableFile&) {
            if (attempt >= 20) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

void Store::create(const KeyRecord& record) {
    if (auto e = check_record(record); !e.empty()) throw StoreError(e);
    fs::path dir = key_dir(record.serial);
    std::error_code ec;
    fs::create_directories(root_, ec);
    if (ec) throw StoreError("cannot create " + root_.u8string() + ": " + ec.message());
    if (fs::exists(dir, ec))
        throw StoreError("a key with serial " + record.serial + " exists already");
    // Built aside and renamed into place: the key appears complete or not at all.
    fs::path tmp = root_ / (".new-" + record.serial + "-" + random_hex(6));
    fs::create_directory(tmp, ec);
    if (ec) throw StoreError("cannot create " + tmp.u8string() + ": " + ec.message());
    try {
        write_key(tmp, record);
        fs::rename(tmp, dir, ec);
        if (ec) throw StoreError("a key with serial " + record.serial + " exists already");
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(tmp, ignored);
        throw;
    }
}

KeyRecord Store::update(std::string_view serial, const std::function<void(KeyRecord&)>& change) {
    fs::path dir = key_dir(serial);
    if (!exists(serial))
        throw StoreError("no key with serial " + std::string(serial) + " in " + root_.u8string());
    KeyLock lock(dir);
    KeyRecord r = load(serial);
    change(r);
    if (r.serial != serial) throw StoreError("the serial number of a key cannot change");
    if (auto e = check_record(r); !e.empty()) throw StoreError(e);
    write_key(dir, r);
    return r;
}

void Store::remove(std::string_view serial) {
    fs::path dir = key_dir(serial);
    if (!exists(serial))
        throw StoreError("no key with serial " + std::string(serial) + " in " + root_.u8string());
    fs::path gone = root_ / (".del-" + std::string(serial) + "-" + random_hex(6));
    {
        KeyLock lock(dir);
        std::error_code ec;
        // Renamed away first so the key vanishes at once for readers. The lock folder goes
        // with it; its destructor then finds nothing to remove.
        fs::rename(dir, gone, ec);
        if (ec) throw StoreError("cannot remove " + dir.u8string() + ": " + ec.message());
    }
    std::error_code ec;
    fs::remove_all(gone, ec);
}

// ---- CachedReader -------------------------------------------------------------------------

namespace {

// The record file's text, or false when it cannot be read now.
bool read_record_text(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Keys kept at most; a process that meets more (tests with a store of their own each) starts
// afresh rather than keep every key it ever read.
constexpr size_t kCachedKeys = 16;

}  // namespace

std::shared_ptr<const KeyRecord> CachedReader::load(const Store& store, std::string_view serial) {
    if (auto e = check_serial(serial); !e.empty()) throw StoreError(e);
    const fs::path record_file = store.root() / std::string(serial) / kRecordFile;
    const std::string id = store.root().u8string() + '|' + std::string(serial);
    std::string before;
    if (read_record_text(record_file, before)) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto it = entries_.find(id);
            if (it != entries_.end() && it->second.record_text == before) return it->second.record;
        }
        // The key this very text names (its files never change), so what is kept always
        // matches the text it is kept with. Should a writer have replaced the record and
        // removed a file it named meanwhile, Store::load below reads the new one.
        try {
            auto record = std::make_shared<const KeyRecord>(
                parse_record(before, store.root() / std::string(serial)));
            if (record->serial == serial) {
                std::lock_guard<std::mutex> hold(lock_);
                if (entries_.size() >= kCachedKeys && !entries_.count(id)) entries_.clear();
                entries_[id] = Entry{std::move(before), record};
                return record;
            }
        } catch (const StoreError&) {
        }
    }
    return std::make_shared<const KeyRecord>(store.load(serial));
}

PinOutcome Store::verify_pin(std::string_view serial, std::string_view pin) {
    PinOutcome outcome;
    update(serial, [&](KeyRecord& r) { outcome = check_pin(r.pin, pin); });
    return outcome;
}

PinOutcome Store::change_pin(std::string_view serial, std::string_view old_pin,
                             std::string_view new_pin) {
    if (new_pin.empty() || new_pin.size() > kMaxPinBytes)
        throw StoreError("a PIN must be 1 to " + std::to_string(kMaxPinBytes) + " bytes");
    PinOutcome outcome;
    update(serial, [&](KeyRecord& r) {
        outcome = check_pin(r.pin, old_pin);
        if (outcome.result == PinResult::Ok) {
            set_pin(r.pin, new_pin, new_pin == kFactoryPin);
            outcome.retries_left = r.pin.retries_left;
        }
    });
    return outcome;
}

}  // namespace softkey
