// The seven exports of Sealform. Each is a frame: it marks the call's start where the call
// does, hands the work to the library's parts, and keeps every exception inside the library
// (out of memory is the only one they throw), answering with the export's failure value.
#include "kit/trace.h"
#include "makers.h"
#include "result_slots.h"
#include "seal_describe.h"
#include "sealform.h"
#include "sealform_steps.h"

using namespace sealform;

extern "C" SEALFORM_API char* SEALFORM_CALL ParsingSeal(const unsigned char* seal, int* length) {
    try {
        kit::trace_marker("ParsingSeal...1");
        ReleaseSealInfo();
        return parse_seal(seal, length);
    } catch (...) {
        return nullptr;
    }
}

extern "C" SEALFORM_API void SEALFORM_CALL ReleaseSealInfo(void) {
    kit::trace_marker("ReleaseSealInfo...1");
    release_sealinfos();
    kit::trace_marker("ReleaseSealInfo...2");
}

extern "C" SEALFORM_API unsigned char* SEALFORM_CALL MakeSeal(const char* params, int* length) {
    try {
        kit::trace_marker(steps::kStart);
        ReleaseSealData();
        return make_seal_with_pfx(params, length);
    } catch (...) {
        return nullptr;
    }
}

extern "C" SEALFORM_API void SEALFORM_CALL ReleaseSealData(void) {
    kit::trace_marker("ReleaseSealData...1");
    release_made_seal();
    kit::trace_marker("ReleaseSealData...2");
}

extern "C" SEALFORM_API unsigned char* SEALFORM_CALL MakeSeal_SignWithKey(const char* params,
                                                                          int* length) {
    try {
        kit::trace("%s...1", "MakeSeal_SignWithKey");
        ReleaseSealData();
        return make_seal_with_key(params, length);
    } catch (...) {
        return nullptr;
    }
}

extern "C" SEALFORM_API int SEALFORM_CALL ParsingSeal_SignWithKey(const unsigned char* seal,
                                                                  int seal_length, char* xml,
                                                                  int* xml_length) {
    try {
        return parse_seal_with_key(seal, seal_length, xml, xml_length);
    } catch (...) {
        return SEALFORM_NOT_A_SEAL;
    }
}

extern "C" SEALFORM_API int SEALFORM_CALL ParsingSeal_ForVerify(
    const unsigned char* seal, int seal_length, unsigned char* info, int* info_length,
    unsigned char* cert, int* cert_length, unsigned char* sign, int* sign_length) {
    try {
        return parse_for_verify(seal, seal_length, info, info_length, cert, cert_length, sign,
                                sign_length);
    } catch (...) {
        return SEALFORM_NOT_A_SEAL;
    }
}
