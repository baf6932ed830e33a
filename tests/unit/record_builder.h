// SPDX-License-Identifier: GPL-3.0-or-later
// Builds MFT FILE records byte by byte for the decoder tests: each damaged
// case is then a one-field mutation of a sound record.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

inline void PutLe(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v, int n) {
    if (b.size() < off + static_cast<std::size_t>(n)) b.resize(off + static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n; ++i)
        b[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

class TAttributeBuilder {
public:
    // A resident attribute without a name: header 0x18 bytes, then the value.
    static std::vector<std::uint8_t> Resident(std::uint32_t type, const std::vector<std::uint8_t>& value,
                                              std::uint16_t flags = 0) {
        std::vector<std::uint8_t> a(0x18, 0);
        a.insert(a.end(), value.begin(), value.end());
        while (a.size() % 8) a.push_back(0);
        PutLe(a, 0x00, type, 4);
        PutLe(a, 0x04, a.size(), 4);
        a[0x08] = 0;
        PutLe(a, 0x0C, flags, 2);
        PutLe(a, 0x10, value.size(), 4);
        PutLe(a, 0x14, 0x18, 2);
        return a;
    }

    static std::vector<std::uint8_t> NonResident(std::uint32_t type, const std::vector<std::uint8_t>& runList,
                                                 std::int64_t dataSize, std::int64_t startVcn,
                                                 std::int64_t lastVcn, std::uint16_t flags = 0,
                                                 std::uint16_t compressionUnit = 0) {
        std::vector<std::uint8_t> a(0x40, 0);
        a.insert(a.end(), runList.begin(), runList.end());
        while (a.size() % 8) a.push_back(0);
        PutLe(a, 0x00, type, 4);
        PutLe(a, 0x04, a.size(), 4);
        a[0x08] = 1;
        PutLe(a, 0x0C, flags, 2);
        PutLe(a, 0x10, static_cast<std::uint64_t>(startVcn), 8);
        PutLe(a, 0x18, static_cast<std::uint64_t>(lastVcn), 8);
        PutLe(a, 0x20, 0x40, 2);
        PutLe(a, 0x22, compressionUnit, 2);
        PutLe(a, 0x28, static_cast<std::uint64_t>(dataSize), 8);
        PutLe(a, 0x30, static_cast<std::uint64_t>(dataSize), 8);
        PutLe(a, 0x38, static_cast<std::uint64_t>(dataSize), 8);
        return a;
    }

    static std::vector<std::uint8_t> StandardInformation(std::uint64_t created, std::uint64_t modified) {
        std::vector<std::uint8_t> v(48, 0);
        PutLe(v, 0x00, created, 8);
        PutLe(v, 0x08, modified, 8);
        return Resident(0x10, v);
    }

    static std::vector<std::uint8_t> FileName(const std::u16string& name, std::uint8_t ns) {
        std::vector<std::uint8_t> v(0x42, 0);
        v[0x40] = static_cast<std::uint8_t>(name.size());
        v[0x41] = ns;
        for (char16_t c : name) {
            v.push_back(static_cast<std::uint8_t>(c & 0xFF));
            v.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        return Resident(0x30, v);
    }
};

class TRecordBuilder {
public:
    explicit TRecordBuilder(std::size_t size = 1024) : m_size(size) {}

    TRecordBuilder& Flags(std::uint16_t flags) {
        m_flags = flags;
        return *this;
    }
    TRecordBuilder& Sequence(std::uint16_t usn) {
        m_usn = usn;
        return *this;
    }
    // The header's own record number (0x2C) and log sequence number (0x08).
    TRecordBuilder& Self(std::uint32_t number) {
        m_self = number;
        return *this;
    }
    TRecordBuilder& Lsn(std::uint64_t lsn) {
        m_lsn = lsn;
        return *this;
    }
    TRecordBuilder& SequenceNumber(std::uint16_t sequence) {
        m_sequence = sequence;
        return *this;
    }
    TRecordBuilder& Add(const std::vector<std::uint8_t>& attribute) {
        m_attributes.insert(m_attributes.end(), attribute.begin(), attribute.end());
        return *this;
    }

    // The record as it lies on the volume: the update sequence number at the
    // end of every 512 bytes, the displaced bytes in the array at 0x30.
    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> r(m_size, 0);
        r[0] = 'F';
        r[1] = 'I';
        r[2] = 'L';
        r[3] = 'E';
        const std::size_t entries = m_size / 512 + 1;
        const std::size_t usa = 0x30;
        PutLe(r, 0x04, usa, 2);
        PutLe(r, 0x06, entries, 2);
        const std::size_t first = (usa + 2 * entries + 7) / 8 * 8;
        PutLe(r, 0x14, first, 2);
        PutLe(r, 0x16, m_flags, 2);
        if (first + m_attributes.size() + 8 > m_size)
            throw std::length_error("attributes do not fit the record");
        std::copy(m_attributes.begin(), m_attributes.end(), r.begin() + static_cast<std::ptrdiff_t>(first));
        PutLe(r, first + m_attributes.size(), 0xFFFFFFFF, 4);
        PutLe(r, 0x08, m_lsn, 8);
        PutLe(r, 0x10, m_sequence, 2);
        PutLe(r, 0x18, first + m_attributes.size() + 8, 4);  // bytes in use
        PutLe(r, 0x1C, m_size, 4);                           // allocated
        PutLe(r, 0x2C, m_self, 4);
        r.resize(m_size);
        PutLe(r, usa, m_usn, 2);
        for (std::size_t i = 1; i < entries; ++i) {
            const std::size_t end = i * 512;
            r[usa + 2 * i] = r[end - 2];
            r[usa + 2 * i + 1] = r[end - 1];
            PutLe(r, end - 2, m_usn, 2);
        }
        return r;
    }

private:
    std::size_t m_size;
    std::uint16_t m_flags = 0;
    std::uint16_t m_usn = 0x0007;
    std::uint32_t m_self = 0;
    std::uint64_t m_lsn = 0;
    std::uint16_t m_sequence = 1;
    std::vector<std::uint8_t> m_attributes;
};

}  // namespace testing_support
