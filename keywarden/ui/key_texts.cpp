#include "key_texts.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>

#include "resource.h"
#include "resources.h"

void KeyDisplayName(const CDevObject& dev, wchar_t* buffer260) {
    if (!buffer260) return;
    buffer260[0] = 0;
    if (dev.IsUnformatted()) {
        LoadStringW(KeywardenInstance(), IDS_UNFORMATTED_DEVICE, buffer260, 260);
        return;
    }
    if (MultiByteToWideChar(CP_ACP, 0, dev.label, -1, buffer260, 260) == 0) buffer260[0] = 0;
    buffer260[259] = 0;
}

void ExpiryLine(const ExpiryFact& fact, wchar_t* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = 0;
    int stringId = fact.kind == EXPIRY_PAST    ? IDS_CERT_EXPIRED
                   : fact.kind == EXPIRY_SOON  ? IDS_CERT_EXPIRES_SOON
                   : fact.kind == EXPIRY_TODAY ? IDS_CERT_EXPIRES_TODAY
                                               : 0;
    if (!stringId) return;
    char format[1024] = {};
    LoadStringA(KeywardenInstance(), static_cast<UINT>(stringId), format, sizeof format);
    char line[1024] = {};
    if (fact.kind == EXPIRY_TODAY)
        snprintf(line, sizeof line, format, fact.serial.c_str());
    else
        snprintf(line, sizeof line, format, fact.serial.c_str(), fact.days);
    if (MultiByteToWideChar(CP_ACP, 0, line, -1, out, static_cast<int>(size) - 1) == 0) out[0] = 0;
    out[size - 1] = 0;
}

void CertNotice::Clear() {
    memset(m_text, 0, sizeof m_text);
    m_hasLines = false;
    m_finished = false;
}

void CertNotice::AppendLine(const wchar_t* line) {
    if (!line || !*line) return;
    if (m_finished) {
        m_text[0] = 0;
        m_finished = false;
    }
    size_t used = wcslen(m_text);
    size_t add = wcslen(line);
    // Whole lines only, and room stays for the closing sentence: a notice that is full keeps
    // its first lines intact instead of running past its end.
    if (used + add + kCertNoticeClosingRoom + 1 > kCertNoticeSize) return;
    memcpy(m_text + used, line, add * sizeof(wchar_t));
    m_text[used + add] = 0;
    m_hasLines = true;
}

bool CertNotice::Finish() {
    if (!m_hasLines) return false;
    wchar_t closing[kCertNoticeClosingRoom];
    closing[0] = 0;
    LoadStringW(KeywardenInstance(), IDS_CERT_RENEW, closing,
                static_cast<int>(kCertNoticeClosingRoom));
    closing[kCertNoticeClosingRoom - 1] = 0;
    size_t used = wcslen(m_text);
    size_t add = wcslen(closing);
    if (used + add + 1 <= kCertNoticeSize) {
        memcpy(m_text + used, closing, add * sizeof(wchar_t));
        m_text[used + add] = 0;
    }
    m_finished = true;
    return true;
}

void CertNotice::Copy(wchar_t* out, size_t size) const {
    if (!out || size == 0) return;
    size_t n = std::min(wcslen(m_text), size - 1);
    memcpy(out, m_text, n * sizeof(wchar_t));
    out[n] = 0;
}

void CertNotice::Build(const ExpiryFacts& facts) {
    Clear();
    for (const ExpiryFact& fact : facts) {
        wchar_t line[1024];
        ExpiryLine(fact, line, 1024);
        AppendLine(line);
    }
    Finish();
}
