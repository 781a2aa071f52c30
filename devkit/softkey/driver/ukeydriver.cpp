// The key driver stand-in "UKeyDriver.dll": serves a software key of the store (STORE.md) to
// Sealgate and Sealform. Each handle stands for one open key; every call looks at the key in the
// store afresh, so changes by the softkey tool or the device library show at once, and a key that
// is pulled fails every call until it is plugged in again. A key unchanged since the last call is
// not read again (softkey::CachedReader).
#include "ukeydriver.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <string>
#include <thread>

#include "kit/base64.h"
#include "kit/platform.h"
#include "kit/secure_xml.h"
#include "sm2_material.h"
#include "softkey_store.h"
#include "testpki.h"

#define UKD_EXPORT extern "C" KIT_EXPORT

namespace {

constexpr int kOk = 0;
constexpr int kBadHandle = 0x1000000B;
constexpr int kBufferTooShort = 0x10000003;
constexpr int kPinBlocked = int(softkey::kStatusPinBlocked);
constexpr int kPinNotVerified = int(0x80006982u);
constexpr int kNoObject = int(0x80006A82u);
constexpr int kFailed = int(0x80006F00u);
// What callers hand SignMessage by convention (the size Sealgate's size query promises).
constexpr int kConventionalSignatureBuffer = 1024;
constexpr int kRequestSignatureBuffer = 2048;

// Returned texts, one per function so that one call does not spoil another's answer, and one
// set per calling thread: an answer stays valid until the same thread asks again (or the
// handle is closed), whatever other threads ask meanwhile. Kept in the device rather than in
// thread-local storage, which would keep the driver from being unloaded.
struct Answers {
    std::string seal_list, seal, serial_text, cert;
    // The seal `seal` holds the text of: asked for again and unchanged, it is not encoded
    // again. The key is held so that its address is not reused by another.
    std::shared_ptr<const softkey::KeyRecord> seal_key;
    int seal_index = -1;
};

struct Device {
    std::mutex lock;
    std::string serial;
    bool pin_verified = false;
    std::map<std::thread::id, Answers> answers;  // under `lock`
};

std::mutex g_devices_lock;
std::map<void*, std::shared_ptr<Device>> g_devices;

std::shared_ptr<Device> find_device(void* handle) {
    std::lock_guard<std::mutex> guard(g_devices_lock);
    auto it = g_devices.find(handle);
    return it == g_devices.end() ? nullptr : it->second;
}

softkey::Store store() { return softkey::Store(softkey::Store::default_root()); }

softkey::CachedReader g_keys;

using Key = std::shared_ptr<const softkey::KeyRecord>;

// The key behind a handle, if it is still there and plugged in.
bool load_present(const Device& d, Key& out) {
    softkey::Store s = store();
    if (!s.exists(d.serial)) return false;
    out = g_keys.load(s, d.serial);
    return out->present;
}

// Called under the device's lock.
const char* keep(Device& d, std::string Answers::*slot, std::string text) {
    std::string& kept = d.answers[std::this_thread::get_id()].*slot;
    kept = std::move(text);
    return kept.c_str();
}

// The exports that answer text: `answer` runs with the device and its key (the shared record,
// which an answer may keep to know what it was made from) under the device's lock and returns
// text kept in the device; null when the handle is unknown, the key is gone or pulled, or
// anything fails.
template <class Answer>
const char* text_answer(void* handle, Answer answer) {
    try {
        auto d = find_device(handle);
        if (!d) return nullptr;
        std::lock_guard<std::mutex> guard(d->lock);
        Key key;
        if (!load_present(*d, key)) return nullptr;
        return answer(*d, key);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

UKD_EXPORT void* OpenDevice(void) {
    try {
        softkey::Store s = store();
        std::string serial;
        if (const char* chosen = std::getenv("SOFTKEY_SERIAL"); chosen && *chosen) {
            if (!s.exists(chosen) || !s.load(chosen).present) return nullptr;
            serial = chosen;
        } else {
            serial = s.first_present();
        }
        if (serial.empty()) return nullptr;
        auto device = std::make_shared<Device>();
        device->serial = serial;
        void* handle = device.get();
        std::lock_guard<std::mutex> guard(g_devices_lock);
        g_devices[handle] = std::move(device);
        return handle;
    } catch (...) {
        return nullptr;
    }
}

UKD_EXPORT int CloseDevice(void* handle) {
    std::lock_guard<std::mutex> guard(g_devices_lock);
    return g_devices.erase(handle) ? kOk : kBadHandle;
}

UKD_EXPORT const char* EnumSeal(void* handle) {
    return text_answer(handle, [](Device& d, const Key& key) {
        std::string xml = "<seallist>";
        for (size_t i = 0; i < key->seals.size(); ++i)
            xml += "<seal index=\"" + std::to_string(i) + "\"/>";
        xml += "</seallist>";
        return keep(d, &Answers::seal_list,
                    kit::base64_encode(reinterpret_cast<const uint8_t*>(xml.data()), xml.size()));
    });
}

UKD_EXPORT const char* ReadSeal(void* handle, int index) {
    return text_answer(handle, [index](Device& d, const Key& key) -> const char* {
        if (index < 0 || size_t(index) >= key->seals.size()) return nullptr;
        Answers& answers = d.answers[std::this_thread::get_id()];
        if (answers.seal_key != key || answers.seal_index != index) {
            answers.seal_key.reset();  // no stale pairing should the encoding throw
            answers.seal = kit::base64_encode(key->seals[size_t(index)]);
            answers.seal_key = key;
            answers.seal_index = index;
        }
        return answers.seal.c_str();
    });
}

UKD_EXPORT int VerifyPin(void* handle, const char* pin) {
    try {
        auto d = find_device(handle);
        if (!d || !pin) return kBadHandle;
        std::lock_guard<std::mutex> guard(d->lock);
        Key key;
        if (!load_present(*d, key)) return kBadHandle;
        auto outcome = store().verify_pin(d->serial, pin);
        d->pin_verified = outcome.result == softkey::PinResult::Ok;
        return int(softkey::status_word(outcome));
    } catch (...) {
        return kFailed;
    }
}

UKD_EXPORT const char* GetUkSerial(void* handle) {
    return text_answer(handle, [](Device& d, const Key& key) {
        return keep(d, &Answers::serial_text, key->serial);
    });
}

UKD_EXPORT const char* GetUkCert(void* handle, int /*reserved*/) {
    return text_answer(handle, [](Device& d, const Key& key) -> const char* {
        if (key->sign_cert.empty()) return nullptr;
        return keep(
            d, &Answers::cert,
            "<ukcert><signcert>" + kit::base64_encode(key->sign_cert) + "</signcert></ukcert>");
    });
}

UKD_EXPORT int SignMessage(void* handle, int /*reserved*/, const unsigned char* data, int data_len,
                           unsigned char* sig, int* sig_len) {
    try {
        auto d = find_device(handle);
        if (!d || !sig || !sig_len || data_len < 0 || (!data && data_len > 0)) return kBadHandle;
        int capacity = *sig_len > 0 ? *sig_len : kConventionalSignatureBuffer;
        if (capacity < 64) return kBufferTooShort;
        std::lock_guard<std::mutex> guard(d->lock);
        Key key;
        if (!load_present(*d, key)) return kBadHandle;
        // The private key is used only after the user PIN was verified on this handle, and not
        // once the PIN is blocked (by this handle or any other user of the key).
        if (key->pin.blocked()) return kPinBlocked;
        if (!d->pin_verified) return kPinNotVerified;
        if (key->sign_key.empty()) return kNoObject;
        testpki::Pkey pkey = testpki::private_key_from_der(key->sign_key);
        testpki::Bytes message(data, data + data_len);
        testpki::Bytes signature = testpki::sm2_sign_raw(pkey.get(), message);
        std::memcpy(sig, signature.data(), signature.size());
        *sig_len = int(signature.size());
        return kOk;
    } catch (...) {
        return kFailed;
    }
}

UKD_EXPORT int ECCSignExt(void* handle, const char* request, unsigned char* sig, int* sig_len) {
    try {
        auto d = find_device(handle);
        if (!d || !request || !sig || !sig_len) return kBadHandle;
        {
            std::lock_guard<std::mutex> guard(d->lock);
            Key key;
            if (!load_present(*d, key)) return kBadHandle;
        }
        // The request carries a private key: parsed in place in a self-wiping copy, so no
        // block freed on the way holds it.
        kit::SecureBytes text(request, request + std::strlen(request));
        pugi::xml_document doc;
        if (!kit::load_secret_document(doc, text)) return kFailed;
        pugi::xml_node info = doc.child("certinfo");
        if (!info) return kFailed;
        kit::SecureBytes scalar, x, y;
        if (!ukeydriver::decode_number(info.child_value("prikey"), scalar)) return kFailed;
        testpki::Pkey pkey = ukeydriver::sm2_key_from_scalar(scalar);
        if (!pkey) return kFailed;
        // The public half, when the request carries it, must belong to the private key.
        std::string_view px = info.child_value("pubx"), py = info.child_value("puby");
        if (!px.empty() || !py.empty()) {
            testpki::Bytes point = testpki::sm2_public_point(pkey.get());
            if (!ukeydriver::decode_number(px, x) || !ukeydriver::decode_number(py, y) ||
                !std::equal(x.begin(), x.end(), point.begin() + 1) ||
                !std::equal(y.begin(), y.end(), point.begin() + 33))
                return kFailed;
        }
        std::string_view src = info.child_value("srcdata");
        testpki::Bytes data = kit::base64_decode(src);
        if (data.empty()) return kFailed;
        testpki::Bytes signature = testpki::sm2_sign_raw(pkey.get(), data);
        if (int(signature.size()) > kRequestSignatureBuffer) return kBufferTooShort;
        std::memcpy(sig, signature.data(), signature.size());
        *sig_len = int(signature.size());
        return kOk;
    } catch (...) {
        return kFailed;
    }
}
