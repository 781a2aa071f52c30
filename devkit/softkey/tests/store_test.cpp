#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "kit/platform.h"
#include "softkey_store.h"

namespace fs = std::filesystem;
using softkey::Bytes;
using softkey::KeyRecord;
using softkey::PinResult;
using softkey::Store;

namespace {

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        root_ = fs::temp_directory_path() / ("softkey-store-test-" + std::to_string(rd()));
        fs::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    static KeyRecord sample(const std::string& serial) {
        KeyRecord r;
        r.serial = serial;
        r.label = "Test key";
        r.cos_version = {{0x0a, 0x1b, 0x2c, 0x3d}};
        softkey::set_pin(r.pin, softkey::kFactoryPin, true);
        softkey::Container rsa;
        rsa.name = "RSA container";
        rsa.algorithm = softkey::Algorithm::RSA;
        rsa.sign_cert = Bytes{0x30, 1, 2, 3};
        rsa.sign_key = Bytes{0x30, 9, 9};
        rsa.exch_cert = Bytes{0x30, 4, 5, 6};
        rsa.exch_key = Bytes{0x30, 8, 8};
        softkey::Container sm2;
        sm2.name = "SM2 container";
        sm2.algorithm = softkey::Algorithm::SM2;
        sm2.sign_cert = Bytes{0x30, 7, 7};
        sm2.sign_key = Bytes{0x30, 6, 6};
        r.containers = {rsa, sm2};
        r.seals = {Bytes{0x30, 0x11}, Bytes{0x30, 0x22, 0x33}};
        r.sign_cert = Bytes{0x30, 0x44};
        r.sign_key = Bytes{0x30, 0x55};
        return r;
    }

    fs::path root_;
};

std::string hex_of(const std::array<uint8_t, 32>& h) { return softkey::to_hex(h.data(), h.size()); }

TEST(Sha256, KnownAnswers) {
    auto h = [](const std::string& s) {
        return hex_of(softkey::sha256(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
    };
    EXPECT_EQ(h(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(h("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padding block.
    EXPECT_EQ(h("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(h(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(h(std::string(64, 'x')).size(), 64u);
}

TEST(Hex, RoundTripAndRejects) {
    Bytes b;
    ASSERT_TRUE(softkey::from_hex("00ffA5", b));
    EXPECT_EQ(b, (Bytes{0x00, 0xff, 0xa5}));
    EXPECT_FALSE(softkey::from_hex("abc", b));
    EXPECT_FALSE(softkey::from_hex("zz", b));
}

TEST_F(StoreTest, CreateAndLoadRoundTrip) {
    Store store(root_);
    KeyRecord in = sample("SK0001");
    store.create(in);
    KeyRecord out = store.load("SK0001");
    EXPECT_EQ(out.serial, "SK0001");
    EXPECT_EQ(out.label, "Test key");
    EXPECT_EQ(out.cos_version, in.cos_version);
    EXPECT_TRUE(out.initialised);
    EXPECT_TRUE(out.present);
    EXPECT_TRUE(out.pin.is_default);
    EXPECT_EQ(out.pin.retries_left, softkey::kDefaultMaxRetries);
    ASSERT_EQ(out.containers.size(), 2u);
    EXPECT_EQ(out.containers[0].name, "RSA container");
    EXPECT_EQ(out.containers[0].algorithm, softkey::Algorithm::RSA);
    EXPECT_EQ(out.containers[0].exch_cert, in.containers[0].exch_cert);
    EXPECT_EQ(out.containers[0].exch_key, in.containers[0].exch_key);
    EXPECT_EQ(out.containers[1].algorithm, softkey::Algorithm::SM2);
    EXPECT_TRUE(out.containers[1].exch_cert.empty());
    EXPECT_EQ(out.seals, in.seals);
    EXPECT_EQ(out.sign_cert, in.sign_cert);
    EXPECT_EQ(out.sign_key, in.sign_key);
    EXPECT_EQ(store.serials(), std::vector<std::string>{"SK0001"});
    EXPECT_TRUE(softkey::pin_matches(out.pin, "580914"));
}

TEST_F(StoreTest, LabelWithAnsiBytesSurvives) {
    Store store(root_);
    KeyRecord in = sample("SK0002");
    in.label = "\xB5\xE7\xD7\xD3\xD3\xA1\xD5\xC2 = key";  // GBK text and an '='
    store.create(in);
    EXPECT_EQ(store.load("SK0002").label, in.label);
}

TEST_F(StoreTest, PinIsNeverStoredInClear) {
    Store store(root_);
    KeyRecord in = sample("SK0003");
    softkey::set_pin(in.pin, "314159", false);
    store.create(in);
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream f(entry.path(), std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(content.find("314159"), std::string::npos) << entry.path();
    }
    // Two keys with the same PIN do not share a hash (salted).
    KeyRecord other = sample("SK0004");
    softkey::set_pin(other.pin, "314159", false);
    EXPECT_NE(other.pin.hash_hex, store.load("SK0003").pin.hash_hex);
}

TEST_F(StoreTest, RejectsBadInput) {
    Store store(root_);
    KeyRecord r = sample("SK0005");
    store.create(r);
    EXPECT_THROW(store.create(r), softkey::StoreError);  // taken
    r.serial = "../evil";
    EXPECT_THROW(store.create(r), softkey::StoreError);
    r.serial = std::string(33, 'A');
    EXPECT_THROW(store.create(r), softkey::StoreError);
    r.serial = "SK0006";
    r.label = std::string(65, 'L');
    EXPECT_THROW(store.create(r), softkey::StoreError);
    r.label = "two\nlines";
    EXPECT_THROW(store.create(r), softkey::StoreError);
    r.label = "ok";
    r.containers.resize(9, r.containers[0]);
    EXPECT_THROW(store.create(r), softkey::StoreError);
    r.containers.resize(2);
    r.pin.max_retries = 16;  // more than a status word can report
    EXPECT_THROW(store.create(r), softkey::StoreError);
    EXPECT_FALSE(store.exists("SK0006"));
    EXPECT_THROW(store.load("SK0006"), softkey::StoreError);
    // Nothing half-made is left behind.
    EXPECT_EQ(store.serials(), std::vector<std::string>{"SK0005"});
    size_t entries = 0;
    for (auto it = fs::directory_iterator(root_); it != fs::directory_iterator(); ++it) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(StoreTest, DamagedRecordGivesClearError) {
    Store store(root_);
    store.create(sample("SK0007"));
    {
        std::ofstream f(root_ / "SK0007" / "key.txt", std::ios::binary | std::ios::trunc);
        f << "format=1\nserial=SK0007\n";
    }
    try {
        store.load("SK0007");
        FAIL() << "load of a damaged record succeeded";
    } catch (const softkey::StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("cos_version"), std::string::npos) << e.what();
    }
    EXPECT_EQ(store.first_present(), "");
}

// Every cut of a record, and a record naming a file that is gone, gives a StoreError (never a
// crash, never a half key).
TEST_F(StoreTest, TruncatedRecordsAndMissingFilesFailCleanly) {
    Store store(root_);
    store.create(sample("SK0008"));
    fs::path record = root_ / "SK0008" / "key.txt";
    std::string text;
    {
        std::ifstream f(record, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    size_t loaded = 0;
    for (size_t cut = 0; cut < text.size(); cut += 7) {
        {
            std::ofstream f(record, std::ios::binary | std::ios::trunc);
            f.write(text.data(), std::streamsize(cut));
        }
        try {
            store.load("SK0008");
            ++loaded;
        } catch (const softkey::StoreError&) {
        }
    }
    EXPECT_EQ(loaded, 0u);
    {
        std::ofstream f(record, std::ios::binary | std::ios::trunc);
        f << text;
    }
    KeyRecord whole = store.load("SK0008");
    // A record of the first format (no end line) still reads.
    {
        std::string v1 = text.substr(0, text.find("end="));
        v1.replace(v1.find("format=2"), 8, "format=1");
        std::ofstream f(record, std::ios::binary | std::ios::trunc);
        f << v1;
    }
    EXPECT_EQ(store.load("SK0008").seals, whole.seals);
    ASSERT_EQ(whole.seals.size(), 2u);
    for (const auto& e : fs::directory_iterator(root_ / "SK0008"))
        if (e.path().filename().string().rfind("seal-", 0) == 0) fs::remove(e.path());
    EXPECT_THROW(store.load("SK0008"), softkey::StoreError);
}

TEST_F(StoreTest, PinCountsDownBlocksAndRecovers) {
    Store store(root_);
    KeyRecord r = sample("SK0010");
    r.pin.max_retries = 3;
    softkey::set_pin(r.pin, softkey::kFactoryPin, true);
    store.create(r);

    auto o = store.verify_pin("SK0010", "000000");
    EXPECT_EQ(o.result, PinResult::Wrong);
    EXPECT_EQ(o.retries_left, 2);
    o = store.verify_pin("SK0010", "580914");  // right PIN restores the tries
    EXPECT_EQ(o.result, PinResult::Ok);
    EXPECT_EQ(store.load("SK0010").pin.retries_left, 3);

    EXPECT_EQ(store.verify_pin("SK0010", "1").retries_left, 2);
    EXPECT_EQ(store.verify_pin("SK0010", "2").retries_left, 1);
    o = store.verify_pin("SK0010", "3");
    EXPECT_EQ(o.result, PinResult::Wrong);
    EXPECT_EQ(o.retries_left, 0);
    EXPECT_TRUE(store.load("SK0010").pin.blocked());
    // Blocked: even the right PIN is refused and the state stays.
    EXPECT_EQ(store.verify_pin("SK0010", "580914").result, PinResult::Blocked);
    EXPECT_EQ(store.change_pin("SK0010", "580914", "123456").result, PinResult::Blocked);
    EXPECT_EQ(store.load("SK0010").pin.retries_left, 0);
}

TEST(PinWords, StatusAndRetryState) {
    using softkey::PinOutcome;
    EXPECT_EQ(softkey::status_word(PinOutcome{PinResult::Ok, 10}), 0u);
    EXPECT_EQ(softkey::status_word(PinOutcome{PinResult::Wrong, 3}), 0x800063C3u);
    EXPECT_EQ(softkey::status_word(PinOutcome{PinResult::Wrong, 0}), 0x800063C0u);
    EXPECT_EQ(softkey::status_word(PinOutcome{PinResult::Blocked, 0}), 0x80006983u);
    softkey::PinState pin;
    pin.retries_left = 3;
    pin.is_default = true;
    EXPECT_EQ(softkey::retry_state_word(pin), 0x01000003u);
    pin.is_default = false;
    pin.retries_left = 0;
    EXPECT_EQ(softkey::retry_state_word(pin), 0u);
}

TEST_F(StoreTest, ChangePinClearsDefaultFlag) {
    Store store(root_);
    store.create(sample("SK0011"));
    auto o = store.change_pin("SK0011", "111111", "123456");
    EXPECT_EQ(o.result, PinResult::Wrong);
    EXPECT_EQ(o.retries_left, softkey::kDefaultMaxRetries - 1);
    EXPECT_TRUE(store.load("SK0011").pin.is_default);

    o = store.change_pin("SK0011", "580914", "123456");
    EXPECT_EQ(o.result, PinResult::Ok);
    KeyRecord r = store.load("SK0011");
    EXPECT_FALSE(r.pin.is_default);
    EXPECT_EQ(r.pin.retries_left, softkey::kDefaultMaxRetries);
    EXPECT_TRUE(softkey::pin_matches(r.pin, "123456"));
    EXPECT_FALSE(softkey::pin_matches(r.pin, "580914"));
    EXPECT_THROW(store.change_pin("SK0011", "123456", ""), softkey::StoreError);
}

TEST_F(StoreTest, UpdateDropsFilesNoLongerNamed) {
    Store store(root_);
    store.create(sample("SK0012"));
    auto der_files = [&] {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(root_ / "SK0012"))
            if (e.path().extension() == ".der") ++n;
        return n;
    };
    size_t before = der_files();
    store.update("SK0012", [](KeyRecord& r) {
        r.seals.clear();
        r.containers.pop_back();
    });
    EXPECT_EQ(der_files(), before - 4);  // two seals, one certificate, one key
    KeyRecord r = store.load("SK0012");
    EXPECT_TRUE(r.seals.empty());
    EXPECT_EQ(r.containers.size(), 1u);
    // An update that throws changes nothing.
    EXPECT_THROW(store.update("SK0012",
                              [](KeyRecord& k) {
                                  k.label = "changed";
                                  throw softkey::StoreError("abandoned");
                              }),
                 softkey::StoreError);
    EXPECT_EQ(store.load("SK0012").label, "Test key");
    EXPECT_THROW(store.update("SK0012", [](KeyRecord& k) { k.serial = "OTHER"; }),
                 softkey::StoreError);
}

TEST_F(StoreTest, PresenceAndFirstPresentKey) {
    Store store(root_);
    KeyRecord a = sample("A1");
    a.present = false;
    store.create(a);
    store.create(sample("B2"));
    store.create(sample("C3"));
    EXPECT_EQ(store.first_present(), "B2");
    store.update("B2", [](KeyRecord& r) { r.present = false; });
    EXPECT_EQ(store.first_present(), "C3");
    store.remove("C3");
    EXPECT_EQ(store.first_present(), "");
    EXPECT_EQ(store.serials(), (std::vector<std::string>{"A1", "B2"}));
    EXPECT_THROW(store.remove("C3"), softkey::StoreError);
}

TEST_F(StoreTest, StaleLockOfADeadWriterIsBroken) {
    Store store(root_);
    store.create(sample("SK0013"));
    fs::path lock = root_ / "SK0013" / ".lock";
    fs::create_directory(lock);
    // Taken five minutes ago by a writer that never let go.
    long long then = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count() -
                     300;
    std::ofstream(lock / "taken") << then;
    store.update("SK0013", [](KeyRecord& r) { r.label = "after crash"; });
    EXPECT_EQ(store.load("SK0013").label, "after crash");
    EXPECT_FALSE(fs::exists(lock));
}

// Writers in parallel lose no update: every append and every wrong PIN counts.
TEST_F(StoreTest, ConcurrentWritersLoseNoUpdate) {
    Store store(root_);
    KeyRecord r = sample("SK0020");
    r.label.clear();
    r.pin.max_retries = 15;
    softkey::set_pin(r.pin, "999999", false);
    store.create(r);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            Store mine(root_);  // as another process would
            for (int i = 0; i < 15; ++i) {
                try {
                    mine.update("SK0020", [t](KeyRecord& k) { k.label.push_back(char('a' + t)); });
                    if (t < 2 && i < 7 &&
                        mine.verify_pin("SK0020", "000000").result != PinResult::Wrong)
                        ++failures;
                } catch (const softkey::StoreError& e) {
                    ADD_FAILURE() << e.what();
                    ++failures;
                }
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    KeyRecord after = store.load("SK0020");
    for (char c : {'a', 'b', 'c', 'd'})
        EXPECT_EQ(std::count(after.label.begin(), after.label.end(), c), 15) << after.label;
    EXPECT_EQ(after.pin.retries_left, 1);
}

// A reader running beside a writer always sees one whole record: the label written with each
// seal list matches the list it reads.
TEST_F(StoreTest, ReaderNeverSeesHalfAnUpdate) {
    Store store(root_);
    KeyRecord first = sample("SK0021");
    first.seals.clear();
    first.label = "seals 0";
    store.create(first);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0}, reads{0};
    std::string first_problem;
    std::thread reader([&] {
        Store mine(root_);
        while (!done) {
            try {
                KeyRecord k = mine.load("SK0021");
                bool whole = k.label == "seals " + std::to_string(k.seals.size());
                for (const auto& s : k.seals) whole = whole && s.size() == 1000 && s[0] == s[999];
                if (!whole && bad++ == 0) first_problem = "mixed record: " + k.label;
                ++reads;
            } catch (const softkey::StoreError& e) {
                if (bad++ == 0) first_problem = e.what();
            }
        }
    });
    for (int i = 0; i < 60; ++i) {
        store.update("SK0021", [i](KeyRecord& k) {
            size_t n = size_t(i % 4);
            k.seals.assign(n, Bytes(1000, uint8_t(i)));
            k.label = "seals " + std::to_string(n);
        });
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0) << first_problem;
    EXPECT_GT(reads.load(), 0);
}

// The cached reader hands out the key it read while the record is unchanged, and sees every
// change a writer makes: one that keeps the record's size (a PIN try counted down) as well.
TEST_F(StoreTest, CachedReaderSeesEveryChange) {
    Store store(root_);
    store.create(sample("SK0022"));
    softkey::CachedReader reader;
    auto first = reader.load(store, "SK0022");
    EXPECT_EQ(first->seals, sample("SK0022").seals);
    EXPECT_EQ(reader.load(store, "SK0022"), first);  // not read again

    store.verify_pin("SK0022", "000000");
    auto after_try = reader.load(store, "SK0022");
    EXPECT_EQ(after_try->pin.retries_left, first->pin.retries_left - 1);
    EXPECT_EQ(first->pin.retries_left, softkey::kDefaultMaxRetries);  // what was handed out stays

    store.update("SK0022", [](KeyRecord& k) { k.seals.push_back(Bytes{0x30, 0x55}); });
    auto more_seals = reader.load(store, "SK0022");
    ASSERT_EQ(more_seals->seals.size(), 3u);
    EXPECT_EQ(more_seals->seals[2], (Bytes{0x30, 0x55}));

    store.update("SK0022", [](KeyRecord& k) { k.present = false; });
    EXPECT_FALSE(reader.load(store, "SK0022")->present);

    // A record written behind the store's back (same size, other label) is read anew too.
    fs::path record = root_ / "SK0022" / "key.txt";
    std::string text;
    {
        std::ifstream f(record, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    text.replace(text.find("label=Test key"), 14, "label=Best key");
    {
        std::ofstream f(record, std::ios::binary | std::ios::trunc);
        f << text;
    }
    EXPECT_EQ(reader.load(store, "SK0022")->label, "Best key");

    // A damaged record fails as Store::load fails, and so does a key that is gone.
    {
        std::ofstream f(record, std::ios::binary | std::ios::trunc);
        f << "format=1\nserial=SK0022\n";
    }
    EXPECT_THROW(reader.load(store, "SK0022"), softkey::StoreError);
    store.remove("SK0022");
    EXPECT_THROW(reader.load(store, "SK0022"), softkey::StoreError);
}

// Keys of different stores with the same serial are told apart.
TEST_F(StoreTest, CachedReaderKeepsStoresApart) {
    Store a(root_ / "a"), b(root_ / "b");
    KeyRecord ka = sample("SK0023"), kb = sample("SK0023");
    kb.label = "other store";
    a.create(ka);
    b.create(kb);
    softkey::CachedReader reader;
    EXPECT_EQ(reader.load(a, "SK0023")->label, "Test key");
    EXPECT_EQ(reader.load(b, "SK0023")->label, "other store");
    EXPECT_EQ(reader.load(a, "SK0023")->label, "Test key");
}

TEST_F(StoreTest, RootFromEnvironment) {
    kit::set_environment_variable(softkey::kStoreEnv, root_.string());
    EXPECT_EQ(Store::default_root(), root_);
    kit::set_environment_variable(softkey::kStoreEnv, "");
    EXPECT_FALSE(Store::default_root().empty());
    EXPECT_NE(Store::default_root(), root_);
#if defined(_WIN32)
    // A Unix path given to a program under Wine is the same folder on drive Z:.
    kit::set_environment_variable(softkey::kStoreEnv, "/tmp/shared-keys");
    EXPECT_EQ(Store::default_root(), fs::path("Z:/tmp/shared-keys"));
    kit::set_environment_variable(softkey::kStoreEnv, "");
    if (std::getenv("WINEHOMEDIR")) {
        EXPECT_EQ(Store::default_root().string().rfind("Z:", 0), 0u) << Store::default_root();
    }
#endif
}

}  // namespace
