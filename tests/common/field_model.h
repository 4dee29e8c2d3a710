/* An independent model of the node's computation for tests: written from the
 * description of the reply line's fields, in 64-bit arithmetic folded back to
 * 32 bits after every operation, sharing no code with the module. */
#pragma once
#include <cstdint>

namespace model {

struct In {
    int32_t label, err_code, samp, freq, cap, loss, volt, size;
};

struct Out {
    int32_t samp_indx, freq_indx, cap_indx, loss_indx, unit_indx, volt_indx, err_code_indx, err_msg_indx;
    bool operator==(const Out &) const = default;
};

inline int32_t fold(int64_t v)
{
    uint64_t u = static_cast<uint64_t>(v) & 0xFFFFFFFFull;
    return u >= 0x80000000ull ? static_cast<int32_t>(static_cast<int64_t>(u) - 0x100000000ll) : static_cast<int32_t>(u);
}

inline Out positions(In in)
{
    int64_t label = in.label, err = in.err_code, samp = in.samp, volt = in.volt;
    int64_t freq = in.freq > 0 ? 1 : in.freq;
    int64_t cap = in.cap > 0 ? 1 : in.cap;
    int64_t loss = in.loss > 0 ? 1 : in.loss;
    int64_t width = fold(2 * label + 1);
    Out o{};
    o.samp_indx = fold(label + err);
    o.freq_indx = fold(fold(samp * fold(label + 1)) + o.samp_indx);
    o.cap_indx = fold(fold(freq * width) + o.freq_indx);
    o.loss_indx = fold(fold(cap * width) + o.cap_indx);
    o.unit_indx = fold(static_cast<int64_t>(o.loss_indx) + 1);
    o.volt_indx = fold(fold(loss * width) + o.loss_indx);
    o.err_msg_indx = fold(fold(fold(volt * width) + o.volt_indx) - label);
    o.err_code_indx = err != 0 ? 0 : -1;
    if (err != 0) o.err_msg_indx = -1;
    int32_t last = fold(static_cast<int64_t>(in.size) - 1);
    if (samp == 0 || o.samp_indx > last) o.samp_indx = -1;
    if (freq == 0 || o.freq_indx > last) o.freq_indx = -1;
    if (cap == 0 || o.cap_indx > last) o.cap_indx = -1;
    if (loss == 0 || o.loss_indx > last) o.loss_indx = -1;
    if (loss == 0 || label == 0 || o.unit_indx > last) o.unit_indx = -1;
    if (volt == 0 || o.volt_indx > last) o.volt_indx = -1;
    if (err != 0 || o.err_msg_indx > last) o.err_msg_indx = -1;
    return o;
}

} // namespace model
