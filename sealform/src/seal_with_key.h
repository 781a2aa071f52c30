// The helpers of the key maker that tests reach directly.
#pragma once

namespace sealform {

// Decrypts the maker document at `source` into `target` through SecureModelCollection.dll:
// 0 done, 23 no source file, 3 a path empty, 404 module or function missing or the
// decryption refused.
int decryptFile(const char* source, const char* target);

// Has the key driver sign a certinfo request: 0 done (signature and its length stored), 1 the
// driver does not load, 2 a function is missing, 3 no device opens, 4 the driver refused.
int EccSignData(const char* request, unsigned char* signature, int* signature_length);

}  // namespace sealform
