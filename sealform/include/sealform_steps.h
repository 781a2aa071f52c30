// Sealform's step labels: what the seal makers write to the debugger output, and what a failure
// at each means. The makers mark their steps with these constants; sealtool explains a failed
// make from the same table, so the two cannot drift apart. C++, beside the C interface
// sealform.h.
#pragma once

#include <cstring>

namespace sealform::steps {

// Progress of a make, in order. Both makers share the steps from kFill on.
constexpr char kStart[] = "MakeSeal...1";
constexpr char kParsed[] = "MakeSeal...1.1";
constexpr char kFilesReady[] = "MakeSeal...1.2";
constexpr char kDecoded[] = "MakeSeal...1.3";
constexpr char kMakerRead[] = "MakeSeal...1.4";
constexpr char kFill[] = "MakeSeal...1.5";
constexpr char kFillHeader[] = "MakeSeal...1.5.1";
constexpr char kFillProperty[] = "MakeSeal...1.5.2";
constexpr char kFillPicture[] = "MakeSeal...1.5.3";
constexpr char kFillExtension[] = "MakeSeal...1.5.3.1";
constexpr char kFillSealId[] = "MakeSeal...1.5.3.2";
constexpr char kInfoEncoded[] = "MakeSeal...1.5.4";
constexpr char kMakerSet[] = "MakeSeal...1.5.5";
constexpr char kSigning[] = "MakeSeal...1.6";
constexpr char kRequestWritten[] = "MakeSeal...1.6.16";
constexpr char kSigned[] = "MakeSeal...1.7";
constexpr char kSealEncoded[] = "MakeSeal...1.8";
constexpr char kKept[] = "MakeSeal...1.9";
constexpr char kDone[] = "MakeSeal...2";

// Failures. The PFX signer's refusal carries its code: kSignerRefused + ":" + the code.
constexpr char kNoParameters[] = "MakeSeal...e.1";
constexpr char kNotXml[] = "MakeSeal...e.2";
constexpr char kWrongRoot[] = "MakeSeal...e.3";
constexpr char kMissingElement[] = "MakeSeal...e.3.1";
constexpr char kOverLimit[] = "MakeSeal...e.3.2";
constexpr char kPfxFileFailed[] = "MakeSeal...e.3.3";
constexpr char kPfxNotOpened[] = "MakeSeal...e.4";
constexpr char kPfxCertUnreadable[] = "MakeSeal...e.5";
constexpr char kInfoNotEncoded[] = "MakeSeal...e.6";  // key maker
constexpr char kInfoNotEncodedPfx[] = "MakeSeal...e.6.1";
constexpr char kSignerRefused[] = "MakeSeal...e.7";
constexpr char kSignatureTooLong[] = "MakeSeal...e.7.1";
constexpr char kSealNotEncoded[] = "MakeSeal...e.8";
constexpr char kMakerDocumentNotXml[] = "MakeSeal...e.21::%s";
constexpr char kMakerDocumentWrongRoot[] = "MakeSeal...e.31";
constexpr char kPictureNotMeasured[] = "MakeSeal...1.1/.1";
// The PFX signer's code for a key that is not an SM2 key.
constexpr char kSignerRefusedNotSm2[] = "MakeSeal...e.7:6";

struct FailureMeaning {
    const char* label;
    const char* meaning;
};

// Most specific first: a label matches the first row it starts with.
constexpr FailureMeaning kFailureMeanings[] = {
    {"MakeSeal...e.21", "the decrypted maker document is not well-formed XML"},
    {kMakerDocumentWrongRoot, "the maker document's top element is not sealmakercert"},
    {kNoParameters, "no parameter document"},
    {kNotXml, "the parameter document is not well-formed XML"},
    {kMissingElement,
     "a required element is missing, or the certificate list holds no certificate"},
    {kOverLimit, "a value exceeds its limit (name: 1023 bytes in UTF-8, certificate: 2048 bytes)"},
    {kPfxFileFailed, "the temporary PFX file could not be written"},
    {kWrongRoot, "the document's top element is not the maker's (sealparams or sealinfo)"},
    {kPfxNotOpened, "the PFX could not be opened (wrong password, or not a PFX file)"},
    {kPfxCertUnreadable, "the PFX's certificate could not be read (or exceeds 2048 bytes)"},
    {kInfoNotEncodedPfx,
     "createdate, vaildstart or vaildend is not a GeneralizedTime (YYYYMMDDhhmmss[Z])"},
    {kInfoNotEncoded,
     "createdate, validstart or validend is not a GeneralizedTime (YYYYMMDDhhmmss[Z])"},
    {kSignerRefusedNotSm2, "the PFX's key is not an SM2 key"},
    {kSignatureTooLong, "the signer's signature does not fit its buffer"},
    {kSignerRefused, "the signer could not sign"},
    {kSealNotEncoded, "the seal could not be encoded"},
    {kPictureNotMeasured, "the seal picture is not a picture that can be measured"},
};

// What a failure label means; null for a label of no failure.
inline const char* failure_meaning(const char* label) {
    for (const FailureMeaning& m : kFailureMeanings)
        if (std::strncmp(label, m.label, std::strlen(m.label)) == 0) return m.meaning;
    return nullptr;
}

}  // namespace sealform::steps
