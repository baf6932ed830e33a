// SPDX-License-Identifier: GPL-3.0-or-later
// The file version record of the Linux build (an ELF note) and the renames
// of the self-update.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file_version.h"
#include "platform/rename_file.h"

namespace {

using platform::FindElfVersionNote;
using platform::TFileVersion;

// A minimal ELF image: header, one note area, and either a section table or
// a program header pointing at it.
class TElfBuilder {
public:
    TElfBuilder(bool wide, bool bigEndian) : m_wide(wide), m_big(bigEndian) {}

    TElfBuilder& Note(std::string owner, std::uint32_t type, std::vector<std::uint16_t> desc) {
        const std::size_t nameSize = owner.size() + 1;
        Put(m_notes, static_cast<std::uint32_t>(nameSize), 4);
        Put(m_notes, static_cast<std::uint32_t>(desc.size() * 2), 4);
        Put(m_notes, type, 4);
        for (char c : owner) m_notes.push_back(static_cast<std::byte>(c));
        m_notes.resize((m_notes.size() + 1 + 3) & ~std::size_t{3});
        for (std::uint16_t v : desc) Put(m_notes, v, 2);
        m_notes.resize((m_notes.size() + 3) & ~std::size_t{3});
        return *this;
    }

    std::vector<std::byte> Build(bool asSection) const {
        const std::size_t header = m_wide ? 64 : 52;
        const std::size_t notesAt = header;
        const std::size_t tableAt = notesAt + m_notes.size();
        std::vector<std::byte> img(tableAt);
        const unsigned char ident[] = {0x7F,
                                       'E',
                                       'L',
                                       'F',
                                       static_cast<unsigned char>(m_wide ? 2 : 1),
                                       static_cast<unsigned char>(m_big ? 2 : 1),
                                       1};
        std::memcpy(img.data(), ident, sizeof ident);
        std::memcpy(img.data() + notesAt, m_notes.data(), m_notes.size());
        const std::size_t word = m_wide ? 8 : 4;
        if (asSection) {
            const std::size_t entry = m_wide ? 0x40 : 0x28;
            Set(img, m_wide ? 0x28 : 0x20, tableAt, word);  // e_shoff
            Set(img, m_wide ? 0x3A : 0x2E, entry, 2);       // e_shentsize
            Set(img, m_wide ? 0x3C : 0x30, 2, 2);           // e_shnum: a null section, then the note
            img.resize(tableAt + 2 * entry);
            Set(img, tableAt + entry + 4, 7, 4);                                // SHT_NOTE
            Set(img, tableAt + entry + (m_wide ? 0x18 : 0x10), notesAt, word);  // sh_offset
            Set(img, tableAt + entry + (m_wide ? 0x20 : 0x14), m_notes.size(), word);
        } else {
            const std::size_t entry = m_wide ? 0x38 : 0x20;
            Set(img, m_wide ? 0x20 : 0x1C, tableAt, word);  // e_phoff
            Set(img, m_wide ? 0x36 : 0x2A, entry, 2);
            Set(img, m_wide ? 0x38 : 0x2C, 1, 2);
            img.resize(tableAt + entry);
            Set(img, tableAt, 4, 4);  // PT_NOTE
            Set(img, tableAt + (m_wide ? 8 : 4), notesAt, word);
            Set(img, tableAt + (m_wide ? 0x20 : 0x10), m_notes.size(), word);
        }
        return img;
    }

private:
    void Put(std::vector<std::byte>& out, std::uint64_t v, std::size_t width) const {
        const std::size_t at = out.size();
        out.resize(at + width);
        Set(out, at, v, width);
    }
    void Set(std::vector<std::byte>& out, std::size_t at, std::uint64_t v, std::size_t width) const {
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = 8 * (m_big ? width - 1 - i : i);
            out[at + i] = static_cast<std::byte>((v >> shift) & 0xFF);
        }
    }

    bool m_wide, m_big;
    std::vector<std::byte> m_notes;
};

TEST(ElfVersionNote, FoundInSectionsAndSegmentsOfEitherClassAndOrder) {
    for (bool wide : {true, false}) {
        for (bool big : {false, true}) {
            for (bool asSection : {true, false}) {
                TElfBuilder b(wide, big);
                b.Note("GNU", 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})  // a build id before ours
                    .Note("Lumbra", platform::kVersionNoteType, {1, 0, 65535, 10});
                EXPECT_EQ(FindElfVersionNote(b.Build(asSection)), (TFileVersion{1, 0, 65535, 10}))
                    << wide << big << asSection;
            }
        }
    }
}

TEST(ElfVersionNote, OtherNotesAndDamagedImagesGiveNothing) {
    const auto only = [](std::string owner, std::uint32_t type, std::vector<std::uint16_t> desc) {
        return FindElfVersionNote(TElfBuilder(true, false).Note(owner, type, desc).Build(true));
    };
    EXPECT_FALSE(only("Lumbrax", platform::kVersionNoteType, {1, 0, 0, 0}));
    EXPECT_FALSE(only("Lumbr", platform::kVersionNoteType, {1, 0, 0, 0}));
    EXPECT_FALSE(only("Lumbra", 1, {1, 0, 0, 0}));
    EXPECT_FALSE(only("Lumbra", platform::kVersionNoteType, {1, 0, 0}));

    auto img = TElfBuilder(true, false).Note("Lumbra", platform::kVersionNoteType, {1, 2, 3, 4}).Build(true);
    ASSERT_TRUE(FindElfVersionNote(img));
    // Cut in the header, in the note, and in the note section's own entry.
    for (std::size_t cut : {std::size_t{0}, std::size_t{15}, std::size_t{70}, img.size() - 0x40 + 0x20}) {
        EXPECT_FALSE(FindElfVersionNote(std::span(img).first(cut))) << cut;
    }
    auto huge = img;
    huge[64 + 4] = std::byte{0xFF};  // a description size far past the section
    EXPECT_FALSE(FindElfVersionNote(huge));
    auto notElf = img;
    notElf[1] = std::byte{'X'};
    EXPECT_FALSE(FindElfVersionNote(notElf));
}

class RenameFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / ("lumbra-rename-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path At(const char* name) const { return m_dir / name; }
    void Make(const char* name, const std::string& text) const { std::ofstream(At(name)) << text; }
    std::string Read(const char* name) const {
        std::ifstream in(At(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path m_dir;
};

TEST_F(RenameFile, NeverReplacesAnExistingName) {
    Make("a", "A");
    Make("b", "B");
    EXPECT_FALSE(platform::RenameNoReplace(At("a"), At("b")));
    EXPECT_EQ(Read("a"), "A");
    EXPECT_EQ(Read("b"), "B");
    EXPECT_FALSE(platform::RenameNoReplace(At("missing"), At("c")));
    EXPECT_FALSE(std::filesystem::exists(At("c")));
    EXPECT_TRUE(platform::RenameNoReplace(At("a"), At("c")));
    EXPECT_FALSE(std::filesystem::exists(At("a")));
    EXPECT_EQ(Read("c"), "A");
}

TEST_F(RenameFile, RunningImageIsRecognisedByIdentityNotContent) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_TRUE(platform::IsRunningImage(self));
    std::filesystem::copy_file(self, At("copy"));
    EXPECT_FALSE(platform::IsRunningImage(At("copy")));
    EXPECT_FALSE(platform::IsRunningImage(At("missing")));
}

}  // namespace
