// The seal reader: the seals of the key, read through the key driver and described by Sealform
// (loaded per read). GetSealCount and GetSealInfo deliver what it reads; GetSealStatus reads
// through it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "seal_record.h"

namespace sealgate {

// The number of seals the driver lists (0 when it cannot list them). The caller writes the
// first step ("GetSealCount").
int seal_count(void* device);

// GetSealInfo's closing trace line for a result delivered (modes 0 and 2; mode 1 has none).
void trace_seal_info_delivered(int mode, const std::vector<uint8_t>& result);
void trace_seal_info_delivered(int mode, const uint8_t* result, size_t size);

// One reading of GetSealInfo `mode` for a seal: read (1, or 0 on failure), then its size known
// before it is written once, into the host's buffer or wherever it goes. Its work buffers are
// leased from those kept between reads (SealReadWork).
class SealRead {
  public:
    SealRead();
    ~SealRead();
    int read(void* device, int index, int mode);
    size_t size() const;
    void write(uint8_t* out) const;

  private:
    struct Work;
    std::unique_ptr<Work> work_;
    int mode_ = -1;
    SealRecord record_;
};

// The result of GetSealInfo `mode` for seal `index` (0 the seal record, 1 the stored Base64
// text, 2 the seal code), however large: 1 with `result` filled, 0 on failure. Delivering it
// to the host, within what the host's buffer holds, is the caller's business; so is the first
// step ("GetSealInfo" with the mode).
int read_seal_info(void* device, int index, int mode, std::vector<uint8_t>& result);

}  // namespace sealgate
