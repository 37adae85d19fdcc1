// What a hostile or unlucky working folder cannot do: make a reader block or
// read forever (a FIFO, a device, a link to one), make a written viewpoint
// unreadable, or leave a killed save's temporaries behind for good.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <thread>

#include "base/dib_image.h"
#include "light/light_probe.h"
#include "render/render_session.h"
#include "render/viewpoint_file.h"
#include "scene/mtl_reader.h"
#include "scene/obj_reader.h"
#include "scene/scene_file.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ScopedWorkingDirectory;
using testing::TempDir;

// Runs read on a thread of its own and returns what it said, failing the
// test when it does not return within a few seconds. A reader blocked in
// opening the FIFO is then released (opening the FIFO for writing too), so
// the test ends either way.
std::string Promptly(const std::function<std::string()>& read, const std::string& fifo) {
    auto result = std::make_shared<std::promise<std::string>>();
    std::future<std::string> said = result->get_future();
    std::thread([read, result] { result->set_value(read()); }).detach();
    if (said.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
        return said.get();
    }
    ADD_FAILURE() << "the reader did not return within 5 seconds";
    int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    if (fd >= 0) {
        close(fd);
    }
    return said.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? said.get() : "";
}

std::string AllSaid(const Diagnostics& diagnostics) {
    std::string text;
    for (const Diagnostic& d : diagnostics.Entries()) {
        text += FormatDiagnostic(d) + "\n";
    }
    return text;
}

TEST(SpecialFiles, EveryReaderRefusesFifosAndDevicesAtOnce) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Root());
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir.Path("zero-link");
    ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);

    using Reader = std::function<std::string(const std::string& path)>;
    const std::pair<const char*, Reader> readers[] = {
        {"scene file",
         [](const std::string& path) {
             Scene scene;
             SceneFileReader sceneReader;
             ObjReader objReader;
             Diagnostics diagnostics;
             sceneReader.LoadScene(path, scene, objReader, diagnostics);
             return AllSaid(diagnostics);
         }},
        {"OBJ",
         [&dir](const std::string& path) {
             dir.Write("scene.txt", "obj " + path + "\nobj_end\n");
             Scene scene;
             SceneFileReader sceneReader;
             ObjReader objReader;
             Diagnostics diagnostics;
             sceneReader.LoadScene(dir.Path("scene.txt"), scene, objReader, diagnostics);
             return AllSaid(diagnostics);
         }},
        {"MTL",
         [](const std::string& path) {
             MtlReader reader;
             Diagnostics diagnostics;
             reader.ReadMtl(path, "", diagnostics);
             return AllSaid(diagnostics);
         }},
        {"BMP",
         [&dir](const std::string& path) {
             dir.Write("maps.mtl", "newmtl a\nKd 1 1 1\nmap_Kd " + path + "\n");
             MtlReader reader;
             Diagnostics diagnostics;
             reader.ReadMtl("maps.mtl", dir.Root(), diagnostics);
             return AllSaid(diagnostics);
         }},
        {"probe image",
         [](const std::string& path) {
             LightProbe probe;
             Diagnostics diagnostics;
             probe.LoadProbeImage(path, diagnostics);
             return AllSaid(diagnostics);
         }},
        {"light list",
         [](const std::string& path) {
             LightProbe probe;
             Diagnostics diagnostics;
             probe.LoadProbeLights(path, diagnostics);
             return AllSaid(diagnostics);
         }},
        {"viewpoint",
         [](const std::string& path) {
             Camera camera;
             return LoadViewpoint(camera, path).error;
         }},
    };
    const std::pair<const char*, std::string> inputs[] = {
        {"a FIFO", fifo}, {"a character device", "/dev/zero"}, {"a character device", link}};
    for (const auto& [name, read] : readers) {
        for (const auto& [kind, path] : inputs) {
            SCOPED_TRACE(std::string(name) + " from " + path);
            std::string said = Promptly([&read, &path] { return read(path); }, fifo);
            EXPECT_NE(said.find(std::string(kind) + ", not a regular file"), std::string::npos)
                << said;
        }
    }
}

TEST(SpecialFiles, APseudoFileReadsNoFurtherThanTheSizeItClaims) {
    // /proc files claim a size of 0 however much they hold.
    LineReader reader;
    ASSERT_TRUE(reader.Open("/proc/self/status"));
    EXPECT_EQ(reader.ReadLine(), LineReader::kEndOfFile);
}

TEST(ViewpointFile, EveryWrittenFileReadsBack) {
    TempDir dir;
    const float max = std::numeric_limits<float>::max();
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Camera camera;
    // The look-at point, position + ez, overflows to infinity.
    camera.position = {max, -max, max};
    camera.ez = {max, -max, 1.0f};
    camera.ex = {inf, -inf, nan};
    camera.ey = {1e-45f, -0.0f, std::nextafter(max, 0.0f)};
    std::string path = dir.Path("view.txt");
    ASSERT_TRUE(SaveViewpoint(camera, path));
    Camera loaded;
    ViewpointLoadResult result = LoadViewpoint(loaded, path);
    EXPECT_EQ(result.vectorsRead, 5) << result.error << "\n" << testing::ReadFile(path);
    // The nearest readable values stand in for those text cannot carry.
    EXPECT_EQ(loaded.ex, (Vec3{3.40282e+38f, -3.40282e+38f, 0.0f}));
    EXPECT_EQ(loaded.lookAt, (Vec3{3.40282e+38f, -3.40282e+38f, 3.40282e+38f}));
    EXPECT_EQ(loaded.ey.x, 1e-45f);
}

TEST(ViewpointFile, NumbersAreReadAsAStreamReadsThem) {
    TempDir dir;
    const std::string path = dir.Path("view.txt");
    // "1.5," gives 1.5; the next read, the key, starts at "," and the
    // numbers after it start at "ex": reading stops there.
    dir.Write("view.txt", "p 1 2 1.5,\nex 0 0 1\n");
    Camera camera;
    camera.ex = {7, 7, 7};
    ViewpointLoadResult result = LoadViewpoint(camera, path);
    EXPECT_EQ(result.vectorsRead, 1);
    EXPECT_NE(result.error.find("unreadable number"), std::string::npos) << result.error;
    EXPECT_EQ(camera.position, (Vec3{1, 2, 1.5f}));
    EXPECT_EQ(camera.ex, (Vec3{7, 7, 7}));
    // A key glued to the number before it is still the next key.
    dir.Write("view.txt", "p 1 2 3camera_ex 0 0 1\n");
    result = LoadViewpoint(camera, path);
    EXPECT_EQ(result.vectorsRead, 2);
    EXPECT_EQ(camera.position, (Vec3{1, 2, 3}));
    EXPECT_EQ(camera.ex, (Vec3{0, 0, 1}));
}

class NoDisplay : public DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const DibImage&) override {}
    bool Showing() const override { return false; }
};

// A process id that names no process: a child that has ended and been reaped.
pid_t EndedProcess() {
    pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

TEST(StaleTemporaries, ARunRemovesOnlyThoseOfEndedRunsOfItsOwnFiles) {
    TempDir dir;
    ScopedWorkingDirectory cwd(dir.Root());
    const std::string dead = std::to_string(EndedProcess());
    const std::string alive = std::to_string(getppid());
    const std::string self = std::to_string(getpid());
    const char* removed[] = {"path_trace_16.pfm.tmp", "view.txt.tmp"};
    const std::string kept[] = {"path_trace_16.pfm.tmp" + alive,
                                "path_trace_16.pfm.tmp" + self,
                                "notes.txt.tmp" + dead,
                                "path_trace_x.pfm.tmp" + dead,
                                "path_trace_16.pfm",
                                "path_trace_16.pfm.tmp" + dead + "x"};
    for (const char* name : removed) {
        dir.Write(std::string("out/") + name + dead, "torn");
    }
    for (const std::string& name : kept) {
        dir.Write("out/" + name, "mine");
    }
    Scene scene;
    NoDisplay display;
    RenderSession session(scene, display);
    ASSERT_TRUE(session.SetImageSize(1, 1));
    session.Run(1);
    for (const char* name : removed) {
        EXPECT_FALSE(std::filesystem::exists(dir.Path(std::string("out/") + name + dead))) << name;
    }
    for (const std::string& name : kept) {
        EXPECT_TRUE(std::filesystem::exists(dir.Path("out/" + name))) << name;
    }
}

}  // namespace
}  // namespace lumeno
