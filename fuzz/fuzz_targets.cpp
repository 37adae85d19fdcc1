#include "fuzz_targets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "base/dib_image.h"
#include "base/float_plane.h"
#include "base/pfm_file.h"
#include "light/light_probe.h"
#include "light/random.h"
#include "probe/hdr_image.h"
#include "render/render_session.h"
#include "render/viewpoint_file.h"
#include "scene/mtl_reader.h"
#include "scene/obj_reader.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

namespace lumeno::fuzz {
namespace {

// Maps the fuzzed files may name stay small: the budget keeps a target's
// memory far below the fuzzer's limit.
constexpr std::int64_t kTextureBudget = std::int64_t{64} << 20;
// Renders stay small whatever size the scene asks for.
constexpr int kMaxRenderSide = 12;

void Check(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "fuzz property broken: %s\n", what);
        std::abort();
    }
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Check(fd >= 0, "the scratch folder is writable");
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        Check(written > 0, "the scratch folder takes the input");
        done += static_cast<std::size_t>(written);
    }
    close(fd);
}

std::string LittleEndian(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

// A bottom-up BMP of width × height with the given depth whose bytes count
// up, so every pixel differs.
std::string SmallBmp(int width, int height, int bits) {
    int rowSize = bits == 24 ? (3 * width + 3) & ~3 : (width + 3) & ~3;
    int palette = bits == 8 ? 1024 : 0;
    std::uint32_t offset = 54 + static_cast<std::uint32_t>(palette);
    std::string bytes = "BM" + LittleEndian(offset + rowSize * height, 4) + LittleEndian(0, 4) +
                        LittleEndian(offset, 4);
    bytes += LittleEndian(40, 4) + LittleEndian(static_cast<std::uint32_t>(width), 4) +
             LittleEndian(static_cast<std::uint32_t>(height), 4) + LittleEndian(1, 2) +
             LittleEndian(static_cast<std::uint32_t>(bits), 2) + LittleEndian(0, 4) +
             LittleEndian(static_cast<std::uint32_t>(rowSize * height), 4) + std::string(16, '\0');
    bytes += std::string(static_cast<std::size_t>(palette), '\x40');
    for (int i = 0; i < rowSize * height; ++i) {
        bytes += static_cast<char>(i * 37);
    }
    return bytes;
}

// A folder of its own, with the files a fuzzed scene, mesh or library may
// name: a textured mesh, its library, two maps, and a light probe.
class Workspace {
  public:
    Workspace() {
        // One folder per process, named after it: libFuzzer ends without
        // running destructors, so each run first removes the folders of
        // runs whose process has gone.
        const char* parent = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(parent, ignored)) {
            std::string name = entry.path().filename().string();
            if (name.rfind("lumeno-fuzz-", 0) == 0) {
                pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + 12));
                if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) {
                    std::filesystem::remove_all(entry.path(), ignored);
                }
            }
        }
        root_ = std::string(parent) + "/lumeno-fuzz-" + std::to_string(getpid());
        std::filesystem::remove_all(root_, ignored);
        Check(std::filesystem::create_directory(root_, ignored), "a scratch folder can be made");
        Write("m.obj",
              "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
              "vt 0 1\nvn 0 0 1\nusemtl wood\nf 1/1/1 2/2/1 3/3/1 4/4/1\nusemtl jade\n"
              "f 1/1/1 3/3/1 2/2/1\n");
        Write("m.mtl",
              "newmtl wood\nKd 0.8 0.6 0.4\nmap_Kd t.bmp\nmap_Bump b.bmp\nnewmtl jade\n"
              "Kd 0.3 0.7 0.4\nrefraction 1.3\nsigma_a 0.1 0.2 0.3\nsigma_s 1 1 1\nsss\n"
              "newmtl glass\nrefraction -1\nnewmtl lamp\nKe 5\n");
        Write("t.bmp", SmallBmp(4, 3, 24));
        Write("b.bmp", SmallBmp(5, 2, 8));
        std::filesystem::create_directories(root_ + "/ibl");
        FloatPlane plane;
        plane.Create(8, 8);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                plane.At(x, y) = static_cast<float>(16 * x + y);
            }
        }
        Check(WritePfm(root_ + "/ibl/grace_probe.pfm", plane, plane, plane, 1.0f).IsOk(),
              "the probe image is written");
        Write("ibl/grace.txt", "2 8\n0 1 0 0 0 0 1 1 1\n1 0.5 0 0 0 0 2 1 0.5\n");
    }
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    // Writes bytes to root/name and returns the full path.
    std::string Write(const std::string& name, std::string_view bytes) const {
        std::string path = root_ + "/" + name;
        WriteBytes(path, bytes);
        return path;
    }
    const std::string& Root() const { return root_; }

  private:
    std::string root_;
};

const Workspace& Scratch() {
    static Workspace workspace;
    return workspace;
}

std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Runs the rest of a target in the scratch folder, as the scene's relative
// names (and the render session's "./ibl" files) expect.
class InScratch {
  public:
    InScratch() {
        char buffer[4096];
        Check(getcwd(buffer, sizeof buffer) != nullptr, "the working folder is known");
        previous_ = buffer;
        Check(chdir(Scratch().Root().c_str()) == 0, "the scratch folder can be entered");
    }
    ~InScratch() { (void)chdir(previous_.c_str()); }

  private:
    std::string previous_;
};

// Everything a triangle of a load must be, whatever the input.
void CheckTriangles(const Scene& scene) {
    for (const auto* list : {&scene.objectTriangles, &scene.lightTriangles}) {
        for (const Triangle* t : *list) {
            Check(t != nullptr && t->material != nullptr, "every triangle has a material");
            Check(!t->hasBumpFrame || (IsFinite(t->bumpU) && IsFinite(t->bumpV)),
                  "a bump frame is finite");
        }
    }
}

// Loads the scene file at path (in the scratch folder) as a scene load does,
// with the maps' memory bounded. objReader holds the materials the
// triangles refer to: it must outlive the scene's use.
void LoadScratchScene(const std::string& path, Scene& scene, ObjReader& objReader) {
    SceneFileReader sceneReader;
    objReader.Mtl().SetTextureBudget(kTextureBudget);
    Diagnostics diagnostics;
    scene.ClearTriangles();
    sceneReader.LoadScene(path, scene, objReader, diagnostics);
}

void FuzzSceneFile(const std::uint8_t* data, std::size_t size) {
    const Workspace& scratch = Scratch();
    InScratch here;
    std::string path = scratch.Write("scene.txt", AsText(data, size));
    Scene scene;
    ObjReader objReader;
    LoadScratchScene(path, scene, objReader);
    CheckTriangles(scene);
}

void FuzzObj(const std::uint8_t* data, std::size_t size) {
    std::string path = Scratch().Write("in.obj", AsText(data, size));
    Scene scene;
    ObjReader reader;
    reader.Mtl().SetTextureBudget(kTextureBudget);
    Diagnostics diagnostics;
    scene.ClearTriangles();
    reader.ReadObj(path, {0.5f, -1.0f, 2.0f}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}, scene,
                   TriangleList::Object, diagnostics);
    CheckTriangles(scene);
}

void FuzzMtl(const std::uint8_t* data, std::size_t size) {
    const Workspace& scratch = Scratch();
    scratch.Write("in.mtl", AsText(data, size));
    MtlReader reader;
    reader.SetTextureBudget(kTextureBudget);
    Diagnostics diagnostics;
    reader.ReadMtl("in.mtl", scratch.Root(), diagnostics);
    for (int i = 0; i < reader.Materials().Count(); ++i) {
        const Material& m = reader.Materials().At(i);
        if (m.diffuse != nullptr && m.diffuse->hasMap) {
            Check(m.diffuse->mapR != nullptr && !m.diffuse->mapR->Empty(), "a map has samples");
        }
        if (m.diffuse != nullptr && m.diffuse->hasBump) {
            Check(m.diffuse->bump != nullptr && !m.diffuse->bump->Empty(), "a bump has samples");
        }
    }
    Check(reader.TextureBytes() <= kTextureBudget, "the maps stay within their budget");
}

void FuzzBmp(const std::uint8_t* data, std::size_t size) {
    std::string path = Scratch().Write("in.bmp", AsText(data, size));
    DibImage image;
    std::string reason;
    if (!image.LoadFromFile(path, &reason)) {
        Check(!reason.empty() && image.Empty(), "a refused bitmap says why and stays empty");
        return;
    }
    FloatPlane r;
    FloatPlane g;
    FloatPlane b;
    Check(image.ToPlanes(r, g, b), "a loaded bitmap splits");
    Check(r.width == image.width && r.height == image.height, "the planes have its size");
}

void FuzzProbeImage(const std::uint8_t* data, std::size_t size) {
    std::string path = Scratch().Write("in.pfm", AsText(data, size));
    LightProbe probe;
    Diagnostics diagnostics;
    bool loaded = probe.LoadProbeImage(path, diagnostics);
    Check(loaded != probe.red.Empty(), "a loaded image has planes, a refused one none");
    for (Vec3 d : {Vec3{0, 0, 1}, Vec3{1, 0, 0}, Vec3{0, -1, 0}, Vec3{0, 0, -1},
                   Normalize(Vec3{1, 2, -3})}) {
        (void)probe.LookupEnvironment(d);
    }
}

void FuzzLightList(const std::uint8_t* data, std::size_t size) {
    std::string path = Scratch().Write("in.txt", AsText(data, size));
    LightProbe probe;
    Diagnostics diagnostics;
    probe.LoadProbeLights(path, diagnostics);
    int n = probe.LightCount();
    Check(n <= LightProbe::kMaxLights, "the list is bounded");
    for (std::uint16_t entry : probe.selectionTable) {
        Check(entry < n, "every table entry names a light");
    }
    Random random;
    for (int i = 0; i < 8; ++i) {
        ProbeLightSample pick = probe.PickProbeLight(random);
        Check(n > 0 || pick.weight == 0.0f, "no lights give no light");
    }
}

void FuzzViewpoint(const std::uint8_t* data, std::size_t size) {
    const Workspace& scratch = Scratch();
    std::string path = scratch.Write("view.txt", AsText(data, size));
    Camera camera;
    camera.position = {1, 2, 3};
    ViewpointLoadResult result = LoadViewpoint(camera, path);
    Check(result.opened && result.vectorsRead >= 0 && result.vectorsRead <= 5,
          "a viewpoint reads up to five vectors");
    // Whatever was read, the camera written now reads back whole.
    std::string again = scratch.Root() + "/view-again.txt";
    Check(SaveViewpoint(camera, again).IsOk(), "the viewpoint is saved");
    Camera reloaded;
    Check(LoadViewpoint(reloaded, again).vectorsRead == 5, "a written viewpoint reads back");
}

void FuzzProbeInput(const std::uint8_t* data, std::size_t size) {
    std::string path = Scratch().Write("in.img", AsText(data, size));
    probe::HdrImage image;
    std::string error;
    if (!probe::ReadHdrImage(path, image, error)) {
        Check(!error.empty() && image.rgb.empty(), "a refused image says why and stays empty");
        return;
    }
    Check(image.rgb.size() == static_cast<std::size_t>(image.width) * image.height * 3,
          "the pixels fill the image");
    for (float v : image.rgb) {
        Check(std::isfinite(v), "the values are finite");
    }
}

class NoDisplay : public DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const DibImage&) override {}
    bool Showing() const override { return false; }
};

// The input holds three files, separated by NUL bytes: the scene file, the
// mesh "r.obj" and its library "r.mtl". The scene is loaded and rendered for
// two passes in the exact mode at a small size.
void FuzzRender(const std::uint8_t* data, std::size_t size) {
    const Workspace& scratch = Scratch();
    std::string_view text = AsText(data, size);
    std::string_view parts[3];
    for (int i = 0; i < 3; ++i) {
        std::size_t end = i < 2 ? text.find('\0') : std::string_view::npos;
        parts[i] = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    scratch.Write("render.txt", parts[0]);
    scratch.Write("r.obj", parts[1]);
    scratch.Write("r.mtl", parts[2]);
    InScratch here;
    Scene scene;
    ObjReader objReader;
    LoadScratchScene("render.txt", scene, objReader);
    Camera& camera = scene.camera;
    camera.width = std::min(camera.width, kMaxRenderSide);
    camera.height = std::min(camera.height, kMaxRenderSide);
    NoDisplay display;
    RenderSession session(scene, display);
    session.SetMode(RenderMode::Exact);
    if (!session.SetImageSize(camera.width, camera.height)) {
        return;
    }
    session.Run(2);
    Check(session.Schedule().PassCounter() == 3, "two passes ran");
}

}  // namespace

const std::vector<FuzzTarget>& FuzzTargets() {
    static const std::vector<FuzzTarget> targets = {
        {"scene_file", FuzzSceneFile},
        {"obj", FuzzObj},
        {"mtl", FuzzMtl},
        {"bmp", FuzzBmp},
        {"probe_image", FuzzProbeImage},
        {"light_list", FuzzLightList},
        {"viewpoint", FuzzViewpoint},
        {"probe_input", FuzzProbeInput},
        {"render", FuzzRender},
    };
    return targets;
}

FuzzFunction FindFuzzTarget(const std::string& name) {
    for (const FuzzTarget& target : FuzzTargets()) {
        if (name == target.name) {
            return target.run;
        }
    }
    return nullptr;
}

}  // namespace lumeno::fuzz
