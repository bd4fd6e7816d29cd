#include "download/CertificateListCore.h"

#include <algorithm>
#include <limits>

namespace VmDownload {
namespace {

constexpr std::string_view kCrLf = "\r\n";

// A bounded walk over DER: every read checks the length against what is left.
class DerReader {
public:
    DerReader() = default;
    DerReader(const uint8_t* data, size_t size) : data_(data), left_(size) {}

    bool Empty() const { return left_ == 0; }

    // The next element, which must carry `tag`; its contents become a reader of their own.
    bool Next(uint8_t tag, DerReader& contents)
    {
        if (left_ < 2 || data_[0] != tag)
            return false;
        size_t length = data_[1];
        size_t header = 2;
        if (length & 0x80) {
            const size_t count = length & 0x7F;
            if (count == 0 || count > 4 || left_ - 2 < count)
                return false; // indefinite lengths are not DER; longer ones cannot fit
            length = 0;
            for (size_t i = 0; i < count; ++i)
                length = (length << 8) | data_[2 + i];
            header += count;
        }
        if (length > left_ - header)
            return false;
        contents = DerReader(data_ + header, length);
        data_ += header + length;
        left_ -= header + length;
        return true;
    }

    // A non-negative INTEGER as big-endian bytes without leading zeros.
    bool NextUnsigned(Bytes& value)
    {
        DerReader contents;
        if (!Next(0x02, contents) || contents.left_ == 0 || (contents.data_[0] & 0x80))
            return false;
        const uint8_t* begin = contents.data_;
        const uint8_t* end = begin + contents.left_;
        while (begin != end && *begin == 0)
            ++begin;
        value.assign(begin, end);
        return true;
    }

    bool Equals(std::initializer_list<uint8_t> bytes) const
    {
        return left_ == bytes.size() && std::equal(bytes.begin(), bytes.end(), data_);
    }

    bool SkipByte(uint8_t expected)
    {
        if (left_ == 0 || data_[0] != expected)
            return false;
        ++data_;
        --left_;
        return true;
    }

private:
    const uint8_t* data_ = nullptr;
    size_t left_ = 0;
};

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kObjectId = 0x06;

void AppendPadded(Bytes& out, const Bytes& value, size_t width)
{
    out.insert(out.end(), width - value.size(), 0);
    out.insert(out.end(), value.begin(), value.end());
}

void AppendLe32(Bytes& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

} // namespace

std::vector<std::string_view> SplitCertificateLines(std::string_view content)
{
    std::vector<std::string_view> lines;
    while (!content.empty()) {
        const size_t end = content.find(kCrLf);
        lines.push_back(content.substr(0, end));
        if (end == std::string_view::npos)
            break;
        content.remove_prefix(end + kCrLf.size());
    }
    return lines;
}

bool SplitCertificateList(std::string_view content, CertificateListParts& parts)
{
    const std::vector<std::string_view> lines = SplitCertificateLines(content);
    if (lines.size() < 3)
        return false;
    parts.expiry = lines.front();
    parts.certificates.assign(lines.begin() + 1, lines.end() - 1);
    parts.signature = lines.back();
    // Three lines mean at least two separators, so this never underflows.
    parts.signedBytes = content.substr(0, content.size() - parts.signature.size() - kCrLf.size());
    return true;
}

int64_t ParseExpiry(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    // Accumulated as a negative number, whose range is the larger one.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

bool DecodeDsaPublicKey(const uint8_t* der, size_t size, DsaPublicKey& key)
{
    DerReader input(der, size), info, algorithm, oid, parameters, bits;
    if (!input.Next(kSequence, info) || !input.Empty())
        return false;
    if (!info.Next(kSequence, algorithm) || !info.Next(kBitString, bits) || !info.Empty())
        return false;
    // id-dsa, 1.2.840.10040.4.1
    if (!algorithm.Next(kObjectId, oid) || !oid.Equals({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01}))
        return false;
    if (!algorithm.Next(kSequence, parameters) || !algorithm.Empty())
        return false;
    if (!parameters.NextUnsigned(key.p) || !parameters.NextUnsigned(key.q) ||
        !parameters.NextUnsigned(key.g) || !parameters.Empty())
        return false;
    // The key is a whole number of bytes: no unused bits.
    return bits.SkipByte(0) && bits.NextUnsigned(key.y) && bits.Empty();
}

bool DecodeDsaSignature(const uint8_t* der, size_t size, std::array<uint8_t, 40>& rs)
{
    DerReader input(der, size), sequence;
    Bytes r, s;
    if (!input.Next(kSequence, sequence) || !input.Empty() || !sequence.NextUnsigned(r) ||
        !sequence.NextUnsigned(s) || !sequence.Empty() || r.size() > 20 || s.size() > 20)
        return false;
    rs.fill(0);
    std::copy(r.begin(), r.end(), rs.begin() + (20 - r.size()));
    std::copy(s.begin(), s.end(), rs.end() - s.size());
    return true;
}

Bytes DsaPublicBlob(const DsaPublicKey& key)
{
    const size_t width = key.p.size();
    if (width == 0 || width > 128 || key.q.size() > 20 || key.g.size() > width ||
        key.y.size() > width)
        return {};
    Bytes blob;
    AppendLe32(blob, kDsaPublicMagic);
    AppendLe32(blob, static_cast<uint32_t>(width));
    // Count and seed all ones: the key comes without its generation seed.
    blob.insert(blob.end(), 4 + 20, 0xFF);
    AppendPadded(blob, key.q, 20);
    AppendPadded(blob, key.p, width);
    AppendPadded(blob, key.g, width);
    AppendPadded(blob, key.y, width);
    return blob;
}

} // namespace VmDownload
