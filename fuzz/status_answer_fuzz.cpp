// The registry service's answer as every HTTP client of Sealgate reads it (the body of a 200
// response): arbitrary bytes, and the answer document built around fuzzed status texts. No
// crash; a status is stored only for an answer whose "status" says "0000", and the number read
// is what a 32-bit wcstol reads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fenced.h"
#include "kit/base64.h"
#include "status_check.h"

namespace {

using fuzz::check;

void no_trace(const char*, ...) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int status = 12345;
    const std::vector<uint8_t> raw(data + 1, data + size);
    if (data[0] & 1) {
        // The bytes as the body.
        int ok = sealgate::read_status_answer(raw, status, no_trace);
        if (!ok) check(status == 12345);
        return 0;
    }
    // The bytes as the status text inside a well-formed answer.
    const std::string text(raw.begin(), raw.end());
    const std::string answer = "<response><status>0000</status><data><sealstatus>" + text +
                               "</sealstatus></data></response>";
    const std::string body =
        kit::base64_encode(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
    int ok = sealgate::read_status_answer(std::vector<uint8_t>(body.begin(), body.end()), status,
                                          no_trace);
    if (ok) {
        // Digits only: the value saturates at 32 bits.
        bool digits = !text.empty() && text.size() < 40;
        for (char c : text) digits = digits && c >= '0' && c <= '9';
        if (digits) {
            long double v = 0;
            for (char c : text) v = v * 10 + (c - '0');
            check(status == (v > 2147483647.0L ? 2147483647 : static_cast<int>(v)));
        }
    } else {
        check(status == 12345);
    }
    return 0;
}
