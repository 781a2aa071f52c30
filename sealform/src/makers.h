// The two seal makers, each a reader of its parameter document that hands the values and its
// signer to the one seal pipeline (seal_pipeline.h), and the key maker's outside calls.
#pragma once

namespace sealform {

// MakeSeal's work after the export has marked its start and released the previous result:
// a "sealparams" document, signed with the PFX it carries through the signer module.
unsigned char* make_seal_with_pfx(const char* params, int* length);

// MakeSeal_SignWithKey's work likewise: a "sealinfo" document, signed by the key driver with
// the maker key material that the document carries encrypted.
unsigned char* make_seal_with_key(const char* params, int* length);

// Decrypts the maker document at `source` into `target` through SecureModelCollection.dll:
// 0 done, 23 no source file, 3 a path empty, 404 module or function missing or the
// decryption refused.
int decryptFile(const char* source, const char* target);

// Has the key driver sign a certinfo request: 0 done (signature and its length stored), 1 the
// driver does not load, 2 a function is missing, 3 no device opens, 4 the driver refused.
int EccSignData(const char* request, unsigned char* signature, int* signature_length);

}  // namespace sealform
