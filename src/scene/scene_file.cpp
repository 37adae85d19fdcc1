#include "scene/scene_file.h"

#include <new>

#include "scene/number_parse.h"

namespace lumeno {
namespace {

std::string ToLowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::string WithoutQuotes(std::string_view text) {
    std::string result;
    for (char c : text) {
        if (c != '"') {
            result += c;
        }
    }
    return result;
}

// A "size" value: the number truncated toward zero, or -1 when it does not
// give a usable image side.
int ImageSide(float value) {
    if (!(value >= 1.0f && value < static_cast<float>(kMaxImageSide + 1))) {
        return -1;
    }
    return static_cast<int>(value);
}

}  // namespace

Vec3 SceneFileReader::ArgVec3() const {
    return {ParseFloat(reader_.Arg(1)), ParseFloat(reader_.Arg(2)), ParseFloat(reader_.Arg(3))};
}

bool SceneFileReader::LoadScene(const std::string& path, Scene& scene, ObjReader& objReader,
                                Diagnostics& diagnostics) {
    bool opened = reader_.Open(path);
    rotX = rotY = rotZ = Matrix4::Identity();
    if (!opened) {
        diagnostics.Add(path, 0, "cannot open the scene file: " + reader_.OpenFailure());
    }
    Camera& camera = scene.camera;
    for (std::string_view keyword = reader_.ReadLine(); keyword != LineReader::kEndOfFile;
         keyword = reader_.ReadLine()) {
        if (reader_.Cancelled()) {
            break;
        }
        if (keyword.empty()) {
            continue;
        }
        std::string key = ToLowerAscii(keyword);
        if (key == "camera_pos") {
            camera.position = ArgVec3();
        } else if (key == "look_at") {
            camera.lookAt = ArgVec3();
        } else if (key == "focus") {
            camera.focus = ParseFloat(reader_.Arg(1));
        } else if (key == "size") {
            int width = ImageSide(ParseFloat(reader_.Arg(1)));
            int height = ImageSide(ParseFloat(reader_.Arg(2)));
            if (width > 0 && height > 0) {
                camera.width = width;
                camera.height = height;
            } else {
                diagnostics.Add(path, reader_.LineNumber(),
                                "\"size\" ignored: width and height must lie between 1 and " +
                                    std::to_string(kMaxImageSide));
            }
        } else if (key == "light" || key == "obj") {
            fileName = WithoutQuotes(reader_.ArgView(1));
            pos = {};
            ex = {1.0f, 0.0f, 0.0f};
            ey = {0.0f, 1.0f, 0.0f};
            ez = {0.0f, 0.0f, 1.0f};
            scale = 1.0f;
        } else if (key == "pos") {
            pos = ArgVec3();
        } else if (key == "ex") {
            ex = ArgVec3();
        } else if (key == "ey") {
            ey = ArgVec3();
        } else if (key == "ez") {
            ez = ArgVec3();
        } else if (key == "rot_x") {
            rotX = Matrix4::RotationX(ParseFloat(reader_.Arg(1)));
        } else if (key == "rot_y") {
            rotY = Matrix4::RotationY(ParseFloat(reader_.Arg(1)));
        } else if (key == "rot_z") {
            rotZ = Matrix4::RotationZ(ParseFloat(reader_.Arg(1)));
        } else if (key == "scale") {
            scale = ParseFloat(reader_.Arg(1));
        } else if (key == "light_end") {
            FinishBlock(path, TriangleList::Light, scene, objReader, diagnostics);
        } else if (key == "obj_end") {
            FinishBlock(path, TriangleList::Object, scene, objReader, diagnostics);
        } else {
            diagnostics.Add(
                path, reader_.LineNumber(),
                "unknown keyword \"" + std::string(keyword.substr(0, 64)) + "\" ignored");
        }
    }
    if (reader_.Cancelled()) {
        diagnostics.Add(path, reader_.LineNumber(),
                        "loading stopped on request: the scene is incomplete");
    }
    reader_.Close();
    DeriveCameraBasis(camera);
    return opened;
}

void SceneFileReader::FinishBlock(const std::string& path, TriangleList list, Scene& scene,
                                  ObjReader& objReader, Diagnostics& diagnostics) {
    // Turned first about Y, then about X, then about Z, all about world axes.
    Matrix4 rotation = Multiply(Multiply(rotY, rotX), rotZ);
    ex = TransformCoord(ex, rotation);
    ey = TransformCoord(ey, rotation);
    ez = TransformCoord(ez, rotation);
    int line = reader_.LineNumber();
    std::size_t before = scene.objectTriangles.size() + scene.lightTriangles.size();
    bool opened = false;
    try {
        opened = objReader.ReadObj(fileName, pos, scale * ex, scale * ey, scale * ez, scene, list,
                                   diagnostics);
    } catch (const std::bad_alloc&) {
        // The triangles read so far stay; the rest of the mesh is lost.
        diagnostics.Add(path, line, "out of memory while reading the mesh \"" + fileName + "\"");
        return;
    }
    if (!opened) {
        diagnostics.Add(path, line,
                        "cannot open the mesh \"" + fileName + "\": " + objReader.OpenFailure());
        return;
    }
    if (scene.objectTriangles.size() + scene.lightTriangles.size() == before &&
        !reader_.Cancelled()) {
        diagnostics.Add(path, line, "the mesh \"" + fileName + "\" gave no triangles");
    }
}

}  // namespace lumeno
