#include "status_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

#include "certificatesdk.h"
#include "http_post.h"
#include "kit/base64.h"
#include "kit/certificate.h"
#include "kit/platform.h"
#include "kit/trace.h"
#include "sealform.h"
#include "service_settings.h"
#include "xml_doc.h"

namespace sealgate {
namespace {

constexpr size_t kSignedDataCapacity = 20480;
constexpr size_t kCertCapacity = 5120;
constexpr size_t kSignatureCapacity = 1024;

// A diagnostic copy of one input of the check, only into a configured folder; skipped when
// the file cannot be written.
void diagnostic_file(const char* utf8_name, const uint8_t* data, size_t size) {
    std::string folder = diagnostics_folder();
    if (folder.empty()) return;
    kit::write_whole_file(folder + kit::file_name_from_utf8(utf8_name), data, size);
}

// Modules that stay loaded once found: the verification entry point and the certificate SDK.
// Found once under a lock, as status checks may run on several threads at a time.
kit::Module& kept(const char* windows_name) {
    static std::mutex lock;
    static kit::Module sealform, sdk;
    std::lock_guard<std::mutex> hold(lock);
    kit::Module& m = std::string(windows_name) == "Sealform.dll" ? sealform : sdk;
    if (!m) m = kit::Module::load(windows_name);
    return m;
}

// The decimal value of a wide text as wcstol reads it where long has 32 bits (Windows, the
// service's home): leading blanks and a sign are read, a value outside 32 bits saturates to
// LONG_MIN / LONG_MAX instead of wrapping ("4294967297" is not 1), 0 when it is not a number.
int wide_number(const std::u16string& text) {
    std::wstring w(text.begin(), text.end());
    long long wide = std::wcstoll(w.c_str(), nullptr, 10);  // saturates at 64 bits
    if (wide > INT32_MAX) return INT32_MAX;
    if (wide < INT32_MIN) return INT32_MIN;
    return static_cast<int>(wide);
}

}  // namespace

std::u16string status_request_document(const std::u16string& seal_code) {
    CXmlDoc doc;
    doc.AddElem(u"request");
    doc.IntoElem();
    doc.AddElem(u"sealcode", seal_code);
    return doc.GetDoc();
}

std::string status_request_body(const std::u16string& seal_code) {
    std::string doc = kit::from_utf16(status_request_document(seal_code));
    return "appkeyid=tolvimar&request=" +
           kit::base64_encode(reinterpret_cast<const uint8_t*>(doc.data()), doc.size()) +
           "&sign=7D1A64E0C93B";
}

int read_status_answer(const std::vector<uint8_t>& answer, int& status, kit::TraceFunction trace) {
    std::vector<uint8_t> decoded = kit::base64_decode(
        std::string_view(reinterpret_cast<const char*>(answer.data()), answer.size()));
    std::string text(decoded.begin(), decoded.end());
    trace("%s---------------------------4:%s", "verifySealStatus", text.c_str());
    CXmlDoc doc;
    if (!doc.SetDoc(kit::to_utf16(text))) return 0;
    if (!doc.FindElem() || !doc.FindChildElem(u"status") || doc.GetChildData() != u"0000") return 0;
    status = wide_number(doc.GetDataByPath(u"response\\data\\sealstatus"));
    return 1;
}

int verifySealStatus(const std::u16string& seal_code, int& status) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "verifySealStatus";
    trace("%s---------------------------1", name);
    try {
        std::string body = status_request_body(seal_code);
        trace("%s---------------------------2::%s::%d", name, body.c_str(),
              static_cast<int>(body.size()));
        std::string path;
        bool posted = PostDataByHttp(registry_url(), "", "", static_cast<long>(body.size()), path,
                                     body.c_str());
        trace("%s---------------------------3::%d", name, posted ? 1 : 0);
        if (path.empty()) return 0;
        std::vector<uint8_t> answer;
        bool read = kit::read_whole_file(path, answer);
        kit::remove_file(path);
        if (!read) return 0;
        return read_status_answer(answer, status, trace);
    } catch (const std::exception& e) {
        trace("%s---------------------------Exception", name);
        std::string message = std::string(e.what()).substr(0, 1024);
        kit::debug_output(message.c_str());
        return 0;
    }
}

int verifySealSign(const std::vector<uint8_t>& seal) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "verifySealSign";
    trace("%s---------------------------1", name);
    auto fail = [&] {
        trace("%s---------------------------6", name);
        return 0;
    };
    auto for_verify =
        kept("Sealform.dll").function<ParsingSeal_ForVerify_fn>("ParsingSeal_ForVerify");
    auto verify = kept("CertificateSDK.dll").function<SKFVerifyData_fn>("SKFVerifyData");
    if (!for_verify || !verify) return fail();
    trace("%s---------------------------3", name);
    diagnostic_file("验证时电子印章数据.txt", seal.data(), seal.size());

    // Buffers of the usual sizes first; for a larger seal Sealform tells the sizes it needs and
    // the second call gets buffers of exactly those sizes.
    std::vector<uint8_t> data(kSignedDataCapacity), cert(kCertCapacity), sign(kSignatureCapacity);
    int data_len = 0, cert_len = 0, sign_len = 0;
    int parsed = SEALFORM_BUFFER_TOO_SMALL;
    for (int attempt = 0; attempt < 2 && parsed == SEALFORM_BUFFER_TOO_SMALL; ++attempt) {
        if (attempt > 0) {
            if (data_len <= 0 || cert_len <= 0 || sign_len <= 0) return fail();
            data.resize(std::max(data.size(), static_cast<size_t>(data_len)));
            cert.resize(std::max(cert.size(), static_cast<size_t>(cert_len)));
            sign.resize(std::max(sign.size(), static_cast<size_t>(sign_len)));
        }
        data_len = static_cast<int>(data.size());
        cert_len = static_cast<int>(cert.size());
        sign_len = static_cast<int>(sign.size());
        parsed = for_verify(seal.data(), static_cast<int>(seal.size()), data.data(), &data_len,
                            cert.data(), &cert_len, sign.data(), &sign_len);
    }
    if (parsed != 0) return fail();
    data.resize(static_cast<size_t>(data_len));
    cert.resize(static_cast<size_t>(cert_len));
    sign.resize(static_cast<size_t>(sign_len));
    std::string cert_b64 = kit::base64_encode(cert);
    trace("%s---------------------------4::%s::%d", name, cert_b64.c_str(), cert_len);
    diagnostic_file("验证时原文.txt", data.data(), data.size());
    diagnostic_file("验证时证书.cer", cert.data(), cert.size());
    diagnostic_file("验证时签名值.txt", sign.data(), sign.size());

    kit::Certificate certificate = kit::Certificate::decode(cert.data(), cert.size());
    if (!certificate) return fail();
    trace("%s---------------------------5::%d::%d", name, data_len, sign_len);
    int rc = verify(static_cast<CERTIFICATESDK_CERT>(certificate.context()), data.data(), data_len,
                    sign.data(), sign_len);
    trace("%s---------------------------5.1::%d", name, rc);
    return rc == 0 ? 1 : fail();
}

}  // namespace sealgate
