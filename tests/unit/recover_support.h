// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the recovery tests: a scratch folder, reading a written file
// back, recognisable cluster contents, and an LZNT1 encoder to make
// compressed clusters with.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the test.
class TScratchDir {
public:
    TScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumbra-recover-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~TScratchDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    std::string Path(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Root() const { return m_path; }

    // Names in the folder, sorted: a failed recovery must leave none behind.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_path))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
};

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Bytes of disk space a file takes (holes take none).
inline std::uint64_t AllocatedBytes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return UINT64_MAX;
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

// The byte at index i of cluster `lcn`: differs from cluster to cluster and
// along a cluster, so a cluster read from the wrong place shows.
inline std::uint8_t ClusterByte(std::uint64_t lcn, std::size_t i) {
    return static_cast<std::uint8_t>(lcn * 37 + i * 7 + (i >> 8) + 1);
}

inline void FillClusters(std::vector<std::uint8_t>& volume, std::uint64_t clusterSize) {
    for (std::size_t at = 0; at < volume.size(); ++at)
        volume[at] = ClusterByte(at / clusterSize, at % clusterSize);
}

inline std::vector<std::uint8_t> ClusterBytes(std::uint64_t lcn, std::size_t clusterSize) {
    std::vector<std::uint8_t> c(clusterSize);
    for (std::size_t i = 0; i < clusterSize; ++i) c[i] = ClusterByte(lcn, i);
    return c;
}

// A plain LZNT1 encoder: greedy, trying a fixed set of distances (all short
// ones and a few far ones, so that every split of a back-reference between
// offset and length bits is used). Chunks that would not shrink are stored
// uncompressed, as NTFS does.
inline std::vector<std::uint8_t> EncodeLznt1(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    for (std::size_t chunkStart = 0; chunkStart < data.size(); chunkStart += 4096) {
        const std::size_t chunkLen = std::min<std::size_t>(4096, data.size() - chunkStart);
        const std::uint8_t* c = data.data() + chunkStart;
        std::vector<std::uint8_t> body;
        std::size_t pos = 0;
        while (pos < chunkLen) {
            const std::size_t flagAt = body.size();
            body.push_back(0);
            for (int bit = 0; bit < 8 && pos < chunkLen; ++bit) {
                unsigned offsetBits = 4;
                for (std::size_t i = pos - (pos > 0 ? 1 : 0); i >= 0x10; i >>= 1) ++offsetBits;
                const std::size_t maxOffset = std::size_t{1} << offsetBits;
                const std::size_t maxLength = (std::size_t{0xFFFF} >> offsetBits) + 3;
                std::size_t bestLen = 0, bestOff = 0;
                std::vector<std::size_t> distances;
                for (std::size_t d = 1; d <= 64; ++d) distances.push_back(d);
                for (std::size_t d : {100u, 255u, 256u, 1000u, 1024u, 2047u, 2048u, 3000u, 4000u, 4095u})
                    distances.push_back(d);
                for (std::size_t d : distances) {
                    if (pos == 0 || d > pos || d > maxOffset) continue;
                    std::size_t len = 0;
                    while (len < maxLength && pos + len < chunkLen && c[pos + len] == c[pos + len - d]) ++len;
                    if (len > bestLen) bestLen = len, bestOff = d;
                }
                if (bestLen >= 3) {
                    const std::size_t token = ((bestOff - 1) << (16 - offsetBits)) | (bestLen - 3);
                    body.push_back(static_cast<std::uint8_t>(token));
                    body.push_back(static_cast<std::uint8_t>(token >> 8));
                    body[flagAt] = static_cast<std::uint8_t>(body[flagAt] | (1u << bit));
                    pos += bestLen;
                } else {
                    body.push_back(c[pos++]);
                }
            }
        }
        if (body.size() >= chunkLen) {
            const std::size_t header = 0x3000 | (chunkLen - 1);
            out.push_back(static_cast<std::uint8_t>(header));
            out.push_back(static_cast<std::uint8_t>(header >> 8));
            out.insert(out.end(), c, c + chunkLen);
        } else {
            const std::size_t header = 0xB000 | (body.size() - 1);
            out.push_back(static_cast<std::uint8_t>(header));
            out.push_back(static_cast<std::uint8_t>(header >> 8));
            out.insert(out.end(), body.begin(), body.end());
        }
    }
    return out;
}

// Data that compresses: stretches copied from near and far back (up to 4000
// bytes), with literal noise between them.
inline std::vector<std::uint8_t> CompressibleData(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> d;
    d.reserve(n);
    std::uint32_t x = seed;
    const auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    };
    while (d.size() < n) {
        const std::uint32_t r = next();
        const std::size_t distance = r % 2 ? 1 + next() % 64 : 100 + next() % 3900;
        if (r % 4 != 0 && distance <= d.size()) {
            const std::size_t length = 3 + next() % 40;
            for (std::size_t i = 0; i < length && d.size() < n; ++i) d.push_back(d[d.size() - distance]);
        } else {
            d.push_back(static_cast<std::uint8_t>(next()));
        }
    }
    return d;
}

}  // namespace testing_support
