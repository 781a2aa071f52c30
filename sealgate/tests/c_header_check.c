/* The public header as a C host sees it: it must compile as C and declare all ten exports. */
#include "sealgate.h"

int sealgate_header_compiles_as_c(void) {
    void* device = 0;
    (void)device;
    return (int)(sizeof(&InitialSession) + sizeof(&CloseSession) + sizeof(&GetSealCount) +
                 sizeof(&GetSealInfo) + sizeof(&GetSealInfo_WithCapacity) + sizeof(&GetSealStatus) +
                 sizeof(&VerifyUserPin) + sizeof(&GetSerial) + sizeof(&GetSignCert) +
                 sizeof(&RawSignData));
}
