// Material libraries: the keys and the kind rule, the texture tables shared
// by file name, the subsurface reflectance table, and what a load reports.
#include "scene/mtl_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bmp_bytes.h"
#include "scene_test_support.h"

namespace lumeno {
namespace {

using testing::Bgr;
using testing::Bmp24;
using testing::Bmp24Filled;
using testing::BmpFile;
using testing::LoadedScene;
using testing::TempDir;

// Reads MTL text written to dir/lib.mtl, with dir as the OBJ directory.
struct MtlFixture {
    TempDir dir;
    MtlReader reader;
    Diagnostics diagnostics;

    void Read(const std::string& content, const std::string& name = "lib.mtl") {
        dir.Write(name, content);
        reader.ReadMtl(name, dir.Root(), diagnostics);
    }

    Material& Get(std::string_view name) {
        Material* material = reader.Materials().Find(name);
        EXPECT_NE(material, nullptr) << name;
        return material != nullptr ? *material : reader.Materials().Default();
    }

    bool Reported(std::string_view text) const {
        for (const Diagnostic& d : diagnostics.Entries()) {
            if (d.message.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

TEST(MtlReader, ANewMaterialStartsGreyAndDiffuse) {
    MtlFixture f;
    f.Read("newmtl plain\n");
    Material& m = f.Get("plain");
    ASSERT_NE(m.diffuse, nullptr);
    EXPECT_EQ(m.diffuse->kd, kDefaultDiffuse);
    EXPECT_FALSE(m.diffuse->hasMap);
    EXPECT_FALSE(m.diffuse->hasBump);
    EXPECT_EQ(m.kind, MaterialKind::Diffuse);
    EXPECT_EQ(m.refraction, 1.0f);
    EXPECT_FALSE(m.hasTexture);
    EXPECT_NE(m.diffuse.get(), f.reader.Materials().Default().diffuse.get());
    EXPECT_TRUE(f.diagnostics.Empty());
}

TEST(MtlReader, EveryKeyStoresItsValues) {
    MtlFixture f;
    f.Read(
        "newmtl skin\nKd 0.1 0.2 0.3\nKs 0.4 0.5 0.6\nKe 7\nsigma_a 1 2 3\nsigma_s 4 5 6\n"
        "refraction 1.4\nKd 0.5\n");
    Material& m = f.Get("skin");
    EXPECT_EQ(m.diffuse->kd, (Vec3{0.5f, 0, 0}));  // missing values read as 0
    EXPECT_EQ(m.ks, (Vec3{0.4f, 0.5f, 0.6f}));
    EXPECT_EQ(m.ke, 7.0f);
    EXPECT_EQ(m.sigmaA, (Vec3{1, 2, 3}));
    EXPECT_EQ(m.sigmaS, (Vec3{4, 5, 6}));
    EXPECT_EQ(m.refraction, 1.4f);
    EXPECT_EQ(m.kind, MaterialKind::Diffuse);
}

TEST(MtlReader, RefractionAfterKdMakesACoatedMaterial) {
    MtlFixture f;
    f.Read("newmtl a\nKd 0.8 0.8 0.8\nrefraction 1.5\nKs 1 1 1\n");
    Material& m = f.Get("a");
    EXPECT_EQ(m.kind, MaterialKind::Coated);
    EXPECT_EQ(m.refraction, 1.5f);
    EXPECT_EQ(m.ks, (Vec3{1, 1, 1}));
    EXPECT_EQ(m.diffuse->kd, (Vec3{0.8f, 0.8f, 0.8f}));
}

TEST(MtlReader, ARefractionOfZeroOrLessMakesGlass) {
    MtlFixture f;
    f.Read(
        "newmtl minus\nrefraction -1\nnewmtl zero\nrefraction 0\nnewmtl nan\nrefraction nan\n"
        "newmtl none\nrefraction\n");
    for (const char* name : {"minus", "zero", "nan", "none"}) {
        EXPECT_EQ(f.Get(name).kind, MaterialKind::Glass) << name;
    }
}

TEST(MtlReader, TheLastOfKdKeRefractionAndSssSetsTheKind) {
    MtlFixture f;
    f.Read(
        "newmtl lamp\nKd 1 1 1\nKe 10\n"
        "newmtl painted\nKe 10\nKd 1 1 1\n"
        "newmtl wax\nKd 1 1 1\nrefraction 1.3\nsss\n"
        "newmtl waxThenPaint\nsss\nKd 1 1 1\n");
    EXPECT_EQ(f.Get("lamp").kind, MaterialKind::Emissive);
    EXPECT_EQ(f.Get("painted").kind, MaterialKind::Diffuse);
    EXPECT_EQ(f.Get("painted").ke, 10.0f);
    EXPECT_EQ(f.Get("wax").kind, MaterialKind::Subsurface);
    EXPECT_EQ(f.Get("waxThenPaint").kind, MaterialKind::Diffuse);
}

TEST(MtlReader, KeysBeforeTheFirstNewmtlAreIgnored) {
    MtlFixture f;
    f.dir.Write("wood.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    f.Read("Kd 1 0 0\nKe 3\nrefraction 2\nmap_Kd wood.bmp\nsss\nnewmtl a\n");
    const Material& grey = f.reader.Materials().Default();
    EXPECT_EQ(grey.diffuse->kd, kDefaultDiffuse);
    EXPECT_EQ(grey.kind, MaterialKind::Diffuse);
    EXPECT_EQ(grey.refraction, 1.0f);
    EXPECT_FALSE(grey.hasTexture);
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 0);
    EXPECT_EQ(f.reader.Materials().Count(), 1);
    EXPECT_EQ(f.Get("a").diffuse->kd, kDefaultDiffuse);
}

TEST(MtlReader, KeysAreCaseSensitiveAndOtherKeysAreIgnored) {
    MtlFixture f;
    f.Read("newmtl a\nkd 1 0 0\nKD 1 0 0\nNs 10\nillum 2\nd 0.5\nKa 1 1 1\nNEWMTL b\n");
    EXPECT_EQ(f.Get("a").diffuse->kd, kDefaultDiffuse);
    EXPECT_EQ(f.reader.Materials().Count(), 1);
    EXPECT_TRUE(f.diagnostics.Empty());
}

TEST(MtlReader, ADiffuseMapSplitsIntoThreePlanes) {
    MtlFixture f;
    f.dir.Write("wood.bmp", Bmp24({{{255, 255, 255}, {0, 0, 0}, {255, 255, 255}},
                                   {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}}}));
    f.Read("newmtl a\nKd 1 1 1\nmap_Kd wood.bmp\n");
    Material& m = f.Get("a");
    EXPECT_TRUE(m.hasTexture);
    const DiffuseLayer& layer = *m.diffuse;
    ASSERT_TRUE(layer.hasMap);
    EXPECT_EQ(layer.mapName, "wood.bmp");
    EXPECT_EQ(layer.mapWidth, 3.0f);
    EXPECT_EQ(layer.mapHeight, 2.0f);
    ASSERT_EQ(f.reader.DiffuseTextures().Count(), 1);
    Texture& texture = f.reader.DiffuseTextures().At(0);
    EXPECT_EQ(texture.fileName, "wood.bmp");
    EXPECT_EQ(layer.mapR, &texture.r);
    EXPECT_EQ(layer.mapG, &texture.g);
    EXPECT_EQ(layer.mapB, &texture.b);
    EXPECT_EQ(texture.r.At(0, 0), 255.0f);
    EXPECT_EQ(texture.r.At(1, 0), 0.0f);
    EXPECT_EQ(texture.r.At(0, 1), 255.0f);
    EXPECT_EQ(texture.g.At(1, 1), 255.0f);
    EXPECT_EQ(texture.b.At(2, 1), 255.0f);
    EXPECT_EQ(texture.b.At(0, 1), 0.0f);
}

TEST(MtlReader, MapCoordinatesBeyondTheMapTakeTheEdge) {
    // The colour lookup addresses x = u·mapWidth and y = (1 − v)·mapHeight,
    // each clamped to the map: u = 1.5 reaches the right column and v = 0 the
    // bottom row, which is the first row of the file.
    MtlFixture f;
    f.dir.Write("edge.bmp", Bmp24({{{0, 0, 10}, {0, 0, 20}, {0, 0, 30}},
                                   {{0, 0, 40}, {0, 0, 50}, {0, 0, 60}}}));
    f.Read("newmtl a\nmap_Kd edge.bmp\n");
    const DiffuseLayer& layer = *f.Get("a").diffuse;
    auto clamp = [](float value, float size) {
        return value < 0.0f ? 0.0f : (value > size - 1.0f ? size - 1.0f : value);
    };
    auto x = static_cast<int>(clamp(1.5f * layer.mapWidth, layer.mapWidth));
    auto y = static_cast<int>(clamp((1.0f - 0.0f) * layer.mapHeight, layer.mapHeight));
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 1);
    EXPECT_EQ(layer.mapR->At(x, y), 60.0f);
}

TEST(MtlReader, ABumpMapKeepsTheBlueChannel) {
    MtlFixture f;
    f.dir.Write("bump.bmp", Bmp24Filled(4, 3, {10, 20, 30}));
    f.Read("newmtl a\nKd 1 1 1\nmap_Bump bump.bmp\n");
    Material& m = f.Get("a");
    EXPECT_FALSE(m.hasTexture);
    const DiffuseLayer& layer = *m.diffuse;
    ASSERT_TRUE(layer.hasBump);
    EXPECT_FALSE(layer.hasMap);
    EXPECT_EQ(layer.bumpWidth, 4.0f);
    EXPECT_EQ(layer.bumpHeight, 3.0f);
    ASSERT_EQ(f.reader.BumpTextures().Count(), 1);
    Texture& texture = f.reader.BumpTextures().At(0);
    EXPECT_EQ(layer.bump, &texture.g);
    EXPECT_TRUE(texture.r.Empty());
    EXPECT_TRUE(texture.b.Empty());
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(texture.g.At(x, y), 10.0f);
        }
    }
}

TEST(MtlReader, MapsBeforeAnyKdAttachToTheStartingLayer) {
    MtlFixture f;
    f.dir.Write("wood.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    f.Read("newmtl a\nmap_Kd wood.bmp\nmap_Bump wood.bmp\n");
    const DiffuseLayer& layer = *f.Get("a").diffuse;
    EXPECT_EQ(layer.kd, kDefaultDiffuse);
    EXPECT_TRUE(layer.hasMap);
    EXPECT_TRUE(layer.hasBump);
    EXPECT_TRUE(f.Get("a").hasTexture);
    // The same file is one entry in each table.
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 1);
    EXPECT_EQ(f.reader.BumpTextures().Count(), 1);
}

TEST(MtlReader, AKdAfterAMapReplacesTheTexturedLayer) {
    MtlFixture f;
    f.dir.Write("wood.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    f.Read("newmtl a\nKd 1 1 1\nmap_Kd wood.bmp\nmap_Bump wood.bmp\nKd 0.5 0.5 0.5\n");
    Material& m = f.Get("a");
    EXPECT_EQ(m.diffuse->kd, (Vec3{0.5f, 0.5f, 0.5f}));
    EXPECT_FALSE(m.diffuse->hasMap);
    EXPECT_FALSE(m.diffuse->hasBump);
    EXPECT_EQ(m.diffuse->mapR, nullptr);
    EXPECT_EQ(m.diffuse->bump, nullptr);
    EXPECT_TRUE(m.diffuse->mapName.empty());
    EXPECT_TRUE(m.hasTexture);
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 1);
}

TEST(MtlReader, TwoMaterialsNamingOneFileShareItsTexture) {
    MtlFixture f;
    f.dir.Write("wood.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    f.Read("newmtl a\nKd 1 1 1\nmap_Kd wood.bmp\nnewmtl b\nKd 1 1 1\nmap_Kd wood.bmp\n");
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 1);
    EXPECT_EQ(f.Get("a").diffuse->mapR, f.Get("b").diffuse->mapR);
    // A changed file under a known name is not read again.
    f.dir.Write("wood.bmp", Bmp24Filled(5, 5, {1, 2, 3}));
    f.Read("newmtl c\nmap_Kd wood.bmp\n", "other.mtl");
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 1);
    EXPECT_EQ(f.Get("c").diffuse->mapWidth, 2.0f);
}

TEST(MtlReader, OneFileUnderManySpellingsLoadsOnce) {
    MtlFixture f;
    f.dir.Write("tex/wood.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    std::vector<std::string> spellings = {"tex/wood.bmp", "tex//wood.bmp", "tex\\wood.bmp",
                                          "tex/../tex/wood.bmp", f.dir.Path("tex/wood.bmp")};
    for (std::string prefix = "./"; spellings.size() < 100; prefix += "./") {
        spellings.push_back(prefix + "tex/wood.bmp");
    }
    // More spellings than the table has entries, two materials per table.
    std::string library;
    for (std::size_t i = 0; i < spellings.size(); ++i) {
        library += "newmtl m" + std::to_string(i) + "\nKd 1 1 1\nmap_Kd " + spellings[i] +
                   "\nmap_Bump " + spellings[i] + "\n";
    }
    f.Read(library);
    // One entry per table: the diffuse one keeps three planes, the bump one one.
    ASSERT_EQ(f.reader.DiffuseTextures().Count(), 1);
    ASSERT_EQ(f.reader.BumpTextures().Count(), 1);
    EXPECT_EQ(f.reader.DiffuseTextures().At(0).fileName, "tex/wood.bmp");
    EXPECT_EQ(f.reader.TextureBytes(), 4 * 4 * static_cast<std::int64_t>(sizeof(float)));
    for (std::size_t i = 0; i < spellings.size(); ++i) {
        const DiffuseLayer& layer = *f.Get("m" + std::to_string(i)).diffuse;
        EXPECT_EQ(layer.mapR, &f.reader.DiffuseTextures().At(0).r) << spellings[i];
        EXPECT_EQ(layer.bump, &f.reader.BumpTextures().At(0).g) << spellings[i];
        EXPECT_EQ(layer.mapName, spellings[i]);
    }
    EXPECT_TRUE(f.diagnostics.Empty());
    // Each spelling holds a place in the table, as a load of its own would:
    // the table is now full, and a further spelling is refused.
    f.Read("newmtl m0\nKd 1 1 1\nmap_Kd ./" + spellings.back() + "\n", "last.mtl");
    EXPECT_FALSE(f.Get("m0").diffuse->hasMap);
    EXPECT_TRUE(f.Reported("table is full"));
}

// A spelling once used keeps naming what it named first, wherever it is
// written later: the table finds textures by name, and a name that found a
// loaded file under another spelling is a name like any other.
TEST(MtlReader, ASpellingNamesWhatItFirstNamed) {
    MtlFixture f;
    f.dir.Write("a/tex.bmp", Bmp24Filled(2, 2, {10, 10, 10}));
    f.dir.Write("b/tex.bmp", Bmp24Filled(3, 3, {200, 200, 200}));
    f.dir.Write("a/lib.mtl",
                "newmtl first\nKd 1 1 1\nmap_Kd ./tex.bmp\n"
                "newmtl second\nKd 1 1 1\nmap_Kd tex.bmp\n");
    f.dir.Write("b/lib.mtl", "newmtl third\nKd 1 1 1\nmap_Kd tex.bmp\n");
    f.reader.ReadMtl("lib.mtl", f.dir.Path("a"), f.diagnostics);
    f.reader.ReadMtl("lib.mtl", f.dir.Path("b"), f.diagnostics);
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 1);
    for (const char* name : {"first", "second", "third"}) {
        EXPECT_EQ(f.Get(name).diffuse->mapWidth, 2.0f) << name;
    }
}

TEST(MtlReader, MapsPastTheMemoryBudgetAreRefusedWithFileAndLine) {
    MtlFixture f;
    f.dir.Write("small.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    f.dir.Write("large.bmp", Bmp24Filled(8, 8, {1, 2, 3}));
    // Room for the small map's three planes and a bump plane of 16 samples.
    f.reader.SetTextureBudget(2 * 2 * 12 + 16 * 4);
    f.Read("newmtl a\nKd 1 1 1\nmap_Kd small.bmp\nmap_Kd large.bmp\nmap_Bump large.bmp\n");
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 1);
    EXPECT_EQ(f.reader.BumpTextures().Count(), 0);
    EXPECT_EQ(f.Get("a").diffuse->mapWidth, 2.0f);
    const auto& entries = f.diagnostics.Entries();
    ASSERT_EQ(entries.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(entries[i].file, f.dir.Path("lib.mtl"));
        EXPECT_EQ(entries[i].line, 4 + i);
        EXPECT_NE(entries[i].message.find("large.bmp"), std::string::npos);
        EXPECT_NE(entries[i].message.find("memory budget"), std::string::npos)
            << entries[i].message;
    }
    EXPECT_EQ(f.reader.TextureBytes(), 2 * 2 * 12);
}

TEST(MtlReader, NamesInsideTheLibraryResolveAgainstTheObjDirectory) {
    MtlFixture f;
    f.dir.Write("tex/wood.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    // The library lies in a subdirectory; its map name is relative to the OBJ file's directory.
    f.Read("newmtl a\nmap_Kd tex/wood.bmp\n", "mats/lib.mtl");
    EXPECT_TRUE(f.Get("a").diffuse->hasMap);
    EXPECT_TRUE(f.diagnostics.Empty());
}

TEST(MtlReader, AnUnreadableBitmapIsReportedWithFileAndLine) {
    MtlFixture f;
    f.dir.Write("deep.bmp", BmpFile(1, 1, 16, std::string(4, '\0')));
    f.Read("newmtl a\nKd 1 1 1\nmap_Kd deep.bmp\nmap_Bump absent.bmp\n");
    Material& m = f.Get("a");
    EXPECT_FALSE(m.hasTexture);
    EXPECT_FALSE(m.diffuse->hasMap);
    EXPECT_FALSE(m.diffuse->hasBump);
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 0);
    EXPECT_EQ(f.reader.BumpTextures().Count(), 0);
    const auto& entries = f.diagnostics.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].file, f.dir.Path("lib.mtl"));
    EXPECT_EQ(entries[0].line, 3);
    EXPECT_NE(entries[0].message.find("map_Kd \"deep.bmp\""), std::string::npos);
    EXPECT_NE(entries[0].message.find("16 bits per pixel"), std::string::npos);
    EXPECT_EQ(entries[1].line, 4);
    EXPECT_NE(entries[1].message.find("absent.bmp"), std::string::npos);
    EXPECT_NE(entries[1].message.find("cannot be opened"), std::string::npos);
}

TEST(MtlReader, AMissingLibraryChangesNothing) {
    MtlFixture f;
    f.reader.ReadMtl("absent.mtl", f.dir.Root(), f.diagnostics);
    EXPECT_EQ(f.reader.Materials().Count(), 0);
    ASSERT_EQ(f.diagnostics.Entries().size(), 1u);
    EXPECT_EQ(f.diagnostics.Entries()[0].file, f.dir.Path("absent.mtl"));
}

TEST(MtlReader, ReadingALibraryAgainWritesItsMaterialsOverInPlace) {
    MtlFixture f;
    f.dir.Write("wood.bmp", Bmp24Filled(2, 2, {1, 2, 3}));
    std::string library = "newmtl a\nKd 1 0 0\nmap_Kd wood.bmp\nnewmtl b\nrefraction 1.5\n";
    f.Read(library);
    Material* a = &f.Get("a");
    f.Read(library);
    EXPECT_EQ(f.reader.Materials().Count(), 2);
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), 1);
    EXPECT_EQ(&f.Get("a"), a);
    // Nothing in a material is reset by its name coming again.
    f.Read("newmtl b\nKs 1 1 1\n", "more.mtl");
    EXPECT_EQ(f.Get("b").kind, MaterialKind::Coated);
    EXPECT_EQ(f.Get("b").refraction, 1.5f);
    EXPECT_EQ(f.Get("b").ks, (Vec3{1, 1, 1}));
}

TEST(MtlReader, AFullMaterialTableRefusesNewNamesAndTheirLines) {
    MtlFixture f;
    std::string library;
    for (int i = 0; i < MaterialTable::kCapacity; ++i) {
        library += "newmtl m" + std::to_string(i) + "\nKd 0.1 0.1 0.1\n";
    }
    library += "newmtl extra\nKd 1 0 0\nKe 5\nnewmtl m0\nKd 0.2 0.2 0.2\n";
    f.Read(library);
    EXPECT_EQ(f.reader.Materials().Count(), MaterialTable::kCapacity);
    EXPECT_EQ(f.reader.Materials().Find("extra"), nullptr);
    EXPECT_EQ(f.Get("m99").diffuse->kd, (Vec3{0.1f, 0.1f, 0.1f}));
    EXPECT_EQ(f.Get("m99").kind, MaterialKind::Diffuse);
    EXPECT_EQ(f.reader.Materials().Default().diffuse->kd, kDefaultDiffuse);
    EXPECT_EQ(f.Get("m0").diffuse->kd, (Vec3{0.2f, 0.2f, 0.2f}));
    ASSERT_EQ(f.diagnostics.Entries().size(), 1u);
    EXPECT_EQ(f.diagnostics.Entries()[0].line, 2 * MaterialTable::kCapacity + 1);
    EXPECT_TRUE(f.Reported("material table is full"));
}

TEST(MtlReader, AFullTextureTableRefusesNewFiles) {
    MtlFixture f;
    std::string library = "newmtl a\n";
    for (int i = 0; i <= TextureTable::kCapacity; ++i) {
        std::string name = std::to_string(i) + ".bmp";
        f.dir.Write(name, Bmp24Filled(1, 1, {1, 2, 3}));
        library += "map_Kd " + name + "\nmap_Bump " + name + "\n";
    }
    f.Read(library);
    EXPECT_EQ(f.reader.DiffuseTextures().Count(), TextureTable::kCapacity);
    EXPECT_EQ(f.reader.BumpTextures().Count(), TextureTable::kCapacity);
    EXPECT_EQ(f.Get("a").diffuse->mapName, "99.bmp");
    EXPECT_EQ(f.diagnostics.Entries().size(), 2u);
    EXPECT_TRUE(f.Reported("diffuse texture table is full"));
    EXPECT_TRUE(f.Reported("bump texture table is full"));
}

// The dipole model's total diffuse reflectance, in double precision.
double Reflectance(double alpha, double a) {
    return 0.5 * alpha * std::exp(-std::sqrt(3.0 * (1.0 - alpha))) *
           (1.0 + std::exp(-4.0 * a * std::sqrt((1.0 - alpha) / 3.0)));
}

TEST(SssTable, ForRefractionOneItInvertsTheReflectance) {
    std::array<float, kSssTableSize> table{};
    ASSERT_TRUE(BuildSssTable(1.0f, table));
    EXPECT_EQ(table[0], 0.5f);
    EXPECT_GT(table[254], 0.999f);
    EXPECT_LT(table[254], 1.0f);
    const double a = 1.0034;  // (1 + Fdr) / (1 − Fdr) with Fdr = 0.0017
    for (int i = 1; i < kSssTableSize; ++i) {
        if (i > 1) {
            EXPECT_GT(table[static_cast<std::size_t>(i)], table[static_cast<std::size_t>(i - 1)]);
        }
        EXPECT_NEAR(Reflectance(table[static_cast<std::size_t>(i)], a), i / 255.0, 1e-3) << i;
    }
}

TEST(SssTable, TheBisectionStopsOnceAMidpointLandsJustAboveTheTarget) {
    // For entry 41 the ninth midpoint's reflectance lies within 1e-6 above
    // 41/255, so it becomes the lower bound, and the next midpoint fits
    // neither rule: the entry is the middle of [0.677734375, 0.6796875].
    std::array<float, kSssTableSize> table{};
    BuildSssTable(1.0f, table);
    EXPECT_EQ(table[41], 0.6787109375f);
}

TEST(SssTable, UnusableRefractionsFallBackToRefractionOne) {
    std::array<float, kSssTableSize> expected{};
    BuildSssTable(1.0f, expected);
    for (float eta : {0.0f, 0.5f, -1.0f, 4.0f, std::nanf(""), INFINITY}) {
        std::array<float, kSssTableSize> table{};
        EXPECT_FALSE(BuildSssTable(eta, table)) << eta;
        EXPECT_EQ(table, expected) << eta;
    }
    std::array<float, kSssTableSize> glassy{};
    EXPECT_TRUE(BuildSssTable(1.3f, glassy));
    EXPECT_NE(glassy, expected);
}

TEST(MtlReader, SssBuildsItsTableFromTheRefractionAboveIt) {
    MtlFixture f;
    f.Read(
        "newmtl before\nrefraction 1.3\nsss\nnewmtl after\nsss\nrefraction 1.3\n"
        "newmtl odd\nrefraction 0.5\nsss\n");
    std::array<float, kSssTableSize> one{};
    std::array<float, kSssTableSize> glassy{};
    BuildSssTable(1.0f, one);
    BuildSssTable(1.3f, glassy);
    EXPECT_EQ(f.Get("before").kind, MaterialKind::Subsurface);
    EXPECT_EQ(f.Get("before").sssTable, glassy);
    EXPECT_EQ(f.Get("after").kind, MaterialKind::Coated);
    EXPECT_EQ(f.Get("after").sssTable, one);
    // An unusable refraction is reported; the table uses 1, the material keeps its own.
    EXPECT_EQ(f.Get("odd").kind, MaterialKind::Subsurface);
    EXPECT_EQ(f.Get("odd").sssTable, one);
    EXPECT_EQ(f.Get("odd").refraction, 0.5f);
    ASSERT_EQ(f.diagnostics.Entries().size(), 1u);
    EXPECT_EQ(f.diagnostics.Entries()[0].line, 9);
    EXPECT_TRUE(f.Reported("sss"));
}

TEST(MtlReader, HostileLibrariesLoadWithoutHarm) {
    MtlFixture f;
    f.dir.Write("ok.bmp", Bmp24Filled(1, 1, {1, 2, 3}));
    std::mt19937 engine(7);
    const std::string alphabet = "newmtl Kd Ke Ks map_Kd map_Bump sss refraction ok.bmp 0.5 -\n\t#";
    for (int round = 0; round < 20; ++round) {
        std::string bytes(4096, '\0');
        for (char& c : bytes) {
            c = round % 2 == 0 ? static_cast<char>(engine() & 0xFF)
                               : alphabet[engine() % alphabet.size()];
        }
        f.Read(bytes);
    }
    f.Read("newmtl\nKd\nmap_Kd\nmap_Bump\nsss\nrefraction 1e999\nsss\nnewmtl " +
           std::string(70000, 'x') + "\n");
    EXPECT_LE(f.reader.Materials().Count(), MaterialTable::kCapacity);
    EXPECT_TRUE(f.Reported("cut short"));
}

// A scene of two meshes whose libraries hold every kind and both map types.
void WriteMaterialScene(const TempDir& dir) {
    dir.Write("obj/tex/wood.bmp", Bmp24Filled(4, 2, {10, 20, 30}));
    dir.Write("obj/tex/bumps.bmp", Bmp24Filled(2, 2, {40, 50, 60}));
    dir.Write("obj/room.mtl",
              "# every kind\nnewmtl floor\nKd 0.9 0.8 0.7\nmap_Kd tex/wood.bmp\n"
              "map_Bump tex/bumps.bmp\nnewmtl lamp\nKe 12\nnewmtl varnish\nKd 0.3 0.3 0.3\n"
              "refraction 1.5\nKs 1 1 1\nnewmtl glass\nrefraction -1.5\nKs 0.9 0.9 1\n"
              "newmtl marble\nKd 1 1 1\nsigma_a 0.01 0.02 0.03\nsigma_s 2 2 2\n"
              "refraction 1.3\nsss\n");
    std::string faces;
    for (const char* name : {"floor", "lamp", "varnish", "glass", "marble", "unknown"}) {
        faces += std::string("usemtl ") + name + "\nf 1/1/1 2/2/1 3/3/1\n";
    }
    dir.Write("obj/room.obj", std::string("mtllib room.mtl\n") + testing::kOneTriangleObj + faces);
    dir.Write("obj/other.obj", std::string("mtllib room.mtl\nmtllib \"room.mtl\"\n") +
                                   testing::kOneTriangleObj +
                                   "usemtl floor\nf 1/1/1 2/2/1 3/3/1\n");
    dir.Write("scene/scene.txt", "obj obj/room.obj\nobj_end\nobj obj/other.obj\nobj_end\n");
}

TEST(MaterialScene, EveryKindAndMapLoadsThroughTheScene) {
    TempDir dir;
    WriteMaterialScene(dir);
    LoadedScene loaded;
    ASSERT_TRUE(loaded.Load(dir));
    const auto& tris = loaded.scene.objectTriangles;
    ASSERT_EQ(tris.size(), 9u);
    const Material* floor = tris[1]->material;
    EXPECT_EQ(floor->kind, MaterialKind::Diffuse);
    EXPECT_EQ(floor->diffuse->kd, (Vec3{0.9f, 0.8f, 0.7f}));
    EXPECT_TRUE(floor->hasTexture);
    EXPECT_EQ(floor->diffuse->mapWidth, 4.0f);
    EXPECT_EQ(floor->diffuse->mapR->At(3, 1), 30.0f);
    EXPECT_EQ(floor->diffuse->bump->At(1, 1), 40.0f);
    EXPECT_EQ(tris[2]->material->kind, MaterialKind::Emissive);
    EXPECT_EQ(tris[2]->material->ke, 12.0f);
    EXPECT_EQ(tris[3]->material->kind, MaterialKind::Coated);
    EXPECT_EQ(tris[4]->material->kind, MaterialKind::Glass);
    EXPECT_EQ(tris[4]->material->ks, (Vec3{0.9f, 0.9f, 1.0f}));
    const Material* marble = tris[5]->material;
    EXPECT_EQ(marble->kind, MaterialKind::Subsurface);
    EXPECT_EQ(marble->sigmaS, (Vec3{2, 2, 2}));
    EXPECT_EQ(marble->sssTable[0], 0.5f);
    // Before any usemtl, and under an unknown name: the default grey.
    const Material* grey = &loaded.objReader.Mtl().Materials().Default();
    EXPECT_EQ(tris[0]->material, grey);
    EXPECT_EQ(tris[6]->material, grey);
    EXPECT_EQ(tris[7]->material, grey);
    // The second mesh finds the same floor material.
    EXPECT_EQ(tris[8]->material, floor);
    // The quoted library name is kept as written, so no such file is found.
    ASSERT_EQ(loaded.diagnostics.Entries().size(), 1u);
    EXPECT_NE(loaded.diagnostics.Entries()[0].file.find("\"room.mtl\""), std::string::npos);
}

TEST(MaterialScene, LoadingTwiceLeavesTheTableCountsUnchanged) {
    TempDir dir;
    WriteMaterialScene(dir);
    LoadedScene loaded;
    ASSERT_TRUE(loaded.Load(dir));
    MtlReader& mtl = loaded.objReader.Mtl();
    EXPECT_EQ(mtl.Materials().Count(), 5);
    EXPECT_EQ(mtl.DiffuseTextures().Count(), 1);
    EXPECT_EQ(mtl.BumpTextures().Count(), 1);
    const Material* floor = loaded.scene.objectTriangles[1]->material;
    ASSERT_TRUE(loaded.Load(dir));
    EXPECT_EQ(mtl.Materials().Count(), 5);
    EXPECT_EQ(mtl.DiffuseTextures().Count(), 1);
    EXPECT_EQ(mtl.BumpTextures().Count(), 1);
    ASSERT_EQ(loaded.scene.objectTriangles.size(), 9u);
    EXPECT_EQ(loaded.scene.objectTriangles[1]->material, floor);
}

}  // namespace
}  // namespace lumeno
