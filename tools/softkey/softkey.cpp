// softkey: makes and changes the software USB keys that the devkit's key driver and device
// library serve. The store's folder comes from --store, else SOFTKEY_STORE, else the default
// (devkit/softkey/STORE.md).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "maker_document.h"
#include "softkey_factory.h"
#include "softkey_host.h"
#include "softkey_store.h"
#include "testpki.h"

namespace {

const char* kUsage = R"(usage: softkey [--store DIR] COMMAND [ARGS]

Software USB keys for the devkit: the key driver (UKeyDriver) and the device library
(KEVA_QMB4410_LIB.dll) serve the keys of one store folder, given by --store, by the
environment variable SOFTKEY_STORE, or by default ~/.local/share/ukeykit/softkey.

commands:
  create SERIAL [--label TEXT] [--rsa N] [--sm2 N] [--rsa-bits BITS] [--pin PIN]
         [--retries N] [--holder NAME] [--uninitialised] [--pulled]
        a new key with its own SM2 signing certificate and N RSA and N SM2 containers
        (default 1 and 1), each with a signature and an exchange certificate; the PIN is
        the factory PIN 580914 unless --pin is given; 10 tries (at most 15) unless --retries
  list                    all keys, one line each
  show SERIAL             everything about one key (no PIN, no private keys)
  add-seal SERIAL FILE    adds an electronic seal (DER file) after the key's other seals
  remove-seal SERIAL N    removes seal N (0 = first)
  set-label SERIAL TEXT   sets the label (at most 64 bytes in the ANSI code page)
  set-pin-state SERIAL [--default | --pin PIN] [--retries N] [--max-retries N]
                [--blocked | --unblock]
        --default sets the factory PIN again and marks it so; --pin sets a changed PIN;
        --retries sets the tries left; --blocked sets them to 0; --unblock restores them
  insert SERIAL           plugs the key in
  pull SERIAL             pulls the key out
  remove SERIAL           deletes the key from the store
  export-cert SERIAL FILE writes the key's signing certificate (DER)
  maker-doc SERIAL FILE   writes the encrypted maker document (Base64) that lets a seal maker
                          sign seals with the key's signing certificate and key

exit status: 0 done, 1 the operation failed, 2 the command line is wrong
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Options after the command's positional arguments.
struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // "--name" -> value ("" for flags)

    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string get(const std::string& name, const std::string& fallback = {}) const {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
    int number(const std::string& name, int fallback, int lo, int hi) const {
        if (!has(name)) return fallback;
        const std::string& v = options.at(name);
        char* end = nullptr;
        long n = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end || n < lo || n > hi)
            throw UsageError(name + " needs a number from " + std::to_string(lo) + " to " +
                             std::to_string(hi) + ", not '" + v + "'");
        return int(n);
    }
};

Args parse(int argc, char** argv, int first, const std::vector<std::string>& value_options,
           const std::vector<std::string>& flags, size_t positional) {
    Args a;
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0) {
            bool takes_value = false, known = false;
            for (const auto& o : value_options)
                if (o == arg) known = takes_value = true;
            for (const auto& f : flags)
                if (f == arg) known = true;
            if (!known) throw UsageError("unknown option " + arg);
            if (takes_value) {
                if (i + 1 >= argc) throw UsageError(arg + " needs a value");
                a.options[arg] = argv[++i];
            } else {
                a.options[arg] = "";
            }
        } else {
            a.positional.push_back(arg);
        }
    }
    if (a.positional.size() != positional)
        throw UsageError("expected " + std::to_string(positional) + " argument(s), got " +
                         std::to_string(a.positional.size()));
    return a;
}

// Command-line text is UTF-8 (softkey_host::utf8_arguments); the key keeps the ANSI code page,
// as Windows would.
std::string to_ansi(const std::string& utf8, const char* what) {
    std::string ansi = kit::from_utf8(utf8);
    if (kit::to_utf8(ansi) != utf8)
        throw UsageError(std::string(what) + " has characters the ANSI code page cannot hold");
    return ansi;
}

std::string pin_state(const softkey::PinState& p) {
    std::string s = p.blocked() ? "blocked"
                                : std::to_string(p.retries_left) + "/" +
                                      std::to_string(p.max_retries) + " tries";
    return s + (p.is_default ? ", factory PIN" : ", PIN changed");
}

// File names on the command line are UTF-8 (softkey_host::utf8_arguments).
softkey::Bytes read_file(const std::string& path) {
    softkey::Bytes data;
    if (!kit::read_whole_file(kit::file_name_from_utf8(path), data))
        throw softkey::StoreError("cannot read " + path);
    return data;
}

// The outer DER element must cover the file exactly.
void check_der(const softkey::Bytes& d, const std::string& path) {
    auto bad = [&] { throw softkey::StoreError(path + " is not a DER-encoded structure"); };
    if (d.size() < 2 || d[0] != 0x30) bad();
    size_t len = d[1], header = 2;
    if (len & 0x80) {
        size_t n = len & 0x7f;
        if (n == 0 || n > 4 || d.size() < 2 + n) bad();
        len = 0;
        for (size_t i = 0; i < n; ++i) len = (len << 8) | d[2 + i];
        header += n;
    }
    if (header + len != d.size()) bad();
}

int run(int argc, char** argv) {
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    int i = 1;
    std::string store_dir;
    if (i < argc && std::strcmp(argv[i], "--store") == 0) {
        if (i + 1 >= argc) throw UsageError("--store needs a folder");
        store_dir = argv[i + 1];
        i += 2;
    }
    if (i >= argc) throw UsageError("no command given");
    std::string cmd = argv[i++];
    if (cmd == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    softkey::Store store(store_dir.empty() ? softkey::Store::default_root()
                                           : std::filesystem::u8path(store_dir));

    if (cmd == "create") {
        Args a =
            parse(argc, argv, i,
                  {"--label", "--rsa", "--sm2", "--rsa-bits", "--pin", "--retries", "--holder"},
                  {"--uninitialised", "--pulled"}, 1);
        softkey::FactoryOptions o;
        o.serial = a.positional[0];
        if (auto e = softkey::check_serial(o.serial); !e.empty()) throw UsageError(e);
        if (store.exists(o.serial))
            throw softkey::StoreError("a key with serial " + o.serial + " exists already");
        o.label = to_ansi(a.get("--label"), "the label");
        if (auto e = softkey::check_label(o.label); !e.empty()) throw UsageError(e);
        o.rsa_containers = a.number("--rsa", 1, 0, 8);
        o.sm2_containers = a.number("--sm2", 1, 0, 8);
        if (o.rsa_containers + o.sm2_containers > 8)
            throw UsageError("a key holds at most 8 containers");
        o.rsa_bits = a.number("--rsa-bits", 2048, 1024, 4096);
        o.pin = a.get("--pin");
        if (a.has("--pin") && (o.pin.empty() || o.pin.size() > softkey::kMaxPinBytes))
            throw UsageError("--pin needs 1 to 64 characters");
        o.max_retries =
            a.number("--retries", softkey::kDefaultMaxRetries, 1, softkey::kMaxRetriesLimit);
        o.holder = a.get("--holder", o.holder);
        softkey::KeyRecord r = softkey::make_key(o);
        if (a.has("--uninitialised")) {
            r.initialised = false;
            r.label.clear();
        }
        r.present = !a.has("--pulled");
        store.create(r);
        std::printf("created key %s in %s\n", r.serial.c_str(), store.root().u8string().c_str());
        return 0;
    }
    if (cmd == "list") {
        parse(argc, argv, i, {}, {}, 0);
        auto serials = store.serials();
        if (serials.empty()) std::printf("no keys in %s\n", store.root().u8string().c_str());
        for (const auto& s : serials) {
            try {
                softkey::KeyRecord r = store.load(s);
                std::printf("%-20s %-8s %-24s %s, %zu container(s), %zu seal(s)\n", s.c_str(),
                            r.present ? "present" : "pulled",
                            r.initialised ? kit::to_utf8(r.label).c_str() : "(not initialised)",
                            pin_state(r.pin).c_str(), r.containers.size(), r.seals.size());
            } catch (const softkey::StoreError& e) {
                std::printf("%-20s damaged: %s\n", s.c_str(), e.what());
            }
        }
        return 0;
    }
    if (cmd == "show") {
        Args a = parse(argc, argv, i, {}, {}, 1);
        softkey::KeyRecord r = store.load(a.positional[0]);
        std::printf("serial:        %s\n", r.serial.c_str());
        std::printf("label:         %s\n",
                    r.initialised ? kit::to_utf8(r.label).c_str() : "(not initialised)");
        std::printf("COS version:   %02x %02x %02x %02x\n", r.cos_version[0], r.cos_version[1],
                    r.cos_version[2], r.cos_version[3]);
        std::printf("present:       %s\n", r.present ? "yes" : "no");
        std::printf("PIN:           %s\n", pin_state(r.pin).c_str());
        std::printf(
            "signing cert:  %s\n",
            r.sign_cert.empty() ? "none" : (std::to_string(r.sign_cert.size()) + " bytes").c_str());
        for (size_t k = 0; k < r.containers.size(); ++k) {
            const auto& c = r.containers[k];
            std::printf("container %zu:   %s (%s) signature %s, exchange %s\n", k,
                        kit::to_utf8(c.name).c_str(), softkey::algorithm_name(c.algorithm),
                        c.sign_cert.empty() ? "no" : "yes", c.exch_cert.empty() ? "no" : "yes");
        }
        for (size_t k = 0; k < r.seals.size(); ++k)
            std::printf("seal %zu:        %zu bytes\n", k, r.seals[k].size());
        return 0;
    }
    if (cmd == "add-seal") {
        Args a = parse(argc, argv, i, {}, {}, 2);
        softkey::Bytes der = read_file(a.positional[1]);
        check_der(der, a.positional[1]);
        auto r =
            store.update(a.positional[0], [&](softkey::KeyRecord& k) { k.seals.push_back(der); });
        std::printf("key %s now holds %zu seal(s)\n", r.serial.c_str(), r.seals.size());
        return 0;
    }
    if (cmd == "remove-seal") {
        Args a = parse(argc, argv, i, {}, {}, 2);
        char* end = nullptr;
        long n = std::strtol(a.positional[1].c_str(), &end, 10);
        if (a.positional[1].empty() || *end || n < 0)
            throw UsageError("the seal number must be 0 or more");
        auto r = store.update(a.positional[0], [&](softkey::KeyRecord& k) {
            if (size_t(n) >= k.seals.size())
                throw softkey::StoreError("key " + k.serial + " has no seal " + std::to_string(n));
            k.seals.erase(k.seals.begin() + n);
        });
        std::printf("key %s now holds %zu seal(s)\n", r.serial.c_str(), r.seals.size());
        return 0;
    }
    if (cmd == "set-label") {
        Args a = parse(argc, argv, i, {}, {}, 2);
        std::string label = to_ansi(a.positional[1], "the label");
        if (auto e = softkey::check_label(label); !e.empty()) throw UsageError(e);
        store.update(a.positional[0], [&](softkey::KeyRecord& k) {
            k.label = label;
            k.initialised = true;
        });
        return 0;
    }
    if (cmd == "set-pin-state") {
        Args a = parse(argc, argv, i, {"--pin", "--retries", "--max-retries"},
                       {"--default", "--blocked", "--unblock"}, 1);
        if (a.has("--default") && a.has("--pin"))
            throw UsageError("--default and --pin exclude each other");
        if (a.has("--blocked") + a.has("--unblock") + a.has("--retries") > 1)
            throw UsageError("give one of --blocked, --unblock and --retries");
        if (a.options.empty()) throw UsageError("set-pin-state needs at least one option");
        int max = a.number("--max-retries", 0, 1, softkey::kMaxRetriesLimit);
        int left = a.number("--retries", 0, 0, softkey::kMaxRetriesLimit);
        std::string pin = a.get("--pin");
        if (a.has("--pin") && (pin.empty() || pin.size() > softkey::kMaxPinBytes))
            throw UsageError("--pin needs 1 to 64 characters");
        auto r = store.update(a.positional[0], [&](softkey::KeyRecord& k) {
            if (max) {
                k.pin.max_retries = max;
                k.pin.retries_left = std::min(k.pin.retries_left, max);
            }
            if (a.has("--default")) softkey::set_pin(k.pin, softkey::kFactoryPin, true);
            if (a.has("--pin")) softkey::set_pin(k.pin, pin, pin == softkey::kFactoryPin);
            if (a.has("--retries")) {
                if (left > k.pin.max_retries)
                    throw softkey::StoreError("--retries is more than the key's maximum of " +
                                              std::to_string(k.pin.max_retries));
                k.pin.retries_left = left;
            }
            if (a.has("--blocked")) k.pin.retries_left = 0;
            if (a.has("--unblock")) k.pin.retries_left = k.pin.max_retries;
        });
        std::printf("key %s: %s\n", r.serial.c_str(), pin_state(r.pin).c_str());
        return 0;
    }
    if (cmd == "insert" || cmd == "pull") {
        Args a = parse(argc, argv, i, {}, {}, 1);
        bool present = cmd == "insert";
        store.update(a.positional[0], [&](softkey::KeyRecord& k) { k.present = present; });
        std::printf("key %s %s\n", a.positional[0].c_str(), present ? "inserted" : "pulled");
        softkey_host::notify_keywarden(present, a.positional[0]);
        return 0;
    }
    if (cmd == "remove") {
        Args a = parse(argc, argv, i, {}, {}, 1);
        store.remove(a.positional[0]);
        return 0;
    }
    if (cmd == "export-cert") {
        Args a = parse(argc, argv, i, {}, {}, 2);
        softkey::KeyRecord r = store.load(a.positional[0]);
        if (r.sign_cert.empty())
            throw softkey::StoreError("key " + r.serial + " has no signing certificate");
        if (!kit::write_whole_file(kit::file_name_from_utf8(a.positional[1]), r.sign_cert.data(),
                                   r.sign_cert.size()))
            throw softkey::StoreError("cannot write " + a.positional[1]);
        return 0;
    }
    if (cmd == "maker-doc") {
        Args a = parse(argc, argv, i, {}, {}, 2);
        softkey::KeyRecord r = store.load(a.positional[0]);
        if (r.sign_cert.empty() || r.sign_key.empty())
            throw softkey::StoreError("key " + r.serial + " has no signing certificate and key");
        testpki::Pkey key = testpki::private_key_from_der(r.sign_key);
        if (!key)
            throw softkey::StoreError("key " + r.serial + ": the signing key does not decode");
        std::string doc = securemodel::encrypted_maker_document(key.get(), r.sign_cert);
        if (!kit::write_whole_file(kit::file_name_from_utf8(a.positional[1]), doc.data(),
                                   doc.size()))
            throw softkey::StoreError("cannot write " + a.positional[1]);
        return 0;
    }
    throw UsageError("unknown command '" + cmd + "'");
}

}  // namespace

int main(int argc, char** argv) {
    kit::restrict_module_search();
    try {
        std::vector<std::string> text = softkey_host::utf8_arguments(argc, argv);
        std::vector<char*> args;
        for (auto& t : text) args.push_back(&t[0]);
        args.push_back(nullptr);
        return run(int(text.size()), args.data());
    } catch (const UsageError& e) {
        std::fprintf(stderr, "softkey: %s\n(softkey --help lists the commands)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "softkey: %s\n", e.what());
        return 1;
    }
}
