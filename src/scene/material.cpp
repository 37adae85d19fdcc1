#include "scene/material.h"

namespace lumeno {

MaterialTable::MaterialTable() {
    defaultMaterial_.diffuse = std::make_unique<DiffuseLayer>();
    defaultMaterial_.diffuse->kd = kDefaultDiffuse;
    defaultMaterial_.kind = MaterialKind::Diffuse;
    defaultMaterial_.refraction = 1.0f;
}

Material* MaterialTable::Find(std::string_view name) {
    for (int i = 0; i < count_; ++i) {
        if (names_[static_cast<std::size_t>(i)] == name) {
            return &materials_[static_cast<std::size_t>(i)];
        }
    }
    return nullptr;
}

Material* MaterialTable::Append(std::string_view name) {
    if (count_ >= kCapacity) {
        return nullptr;
    }
    names_[static_cast<std::size_t>(count_)] = std::string(name);
    return &materials_[static_cast<std::size_t>(count_++)];
}

Texture* TextureTable::Find(std::string_view fileName) {
    for (int i = 0; i < count_; ++i) {
        if (textures_[static_cast<std::size_t>(i)].fileName == fileName) {
            return &textures_[static_cast<std::size_t>(i)];
        }
    }
    return nullptr;
}

Texture* TextureTable::Append(std::string_view fileName) {
    if (count_ >= kCapacity) {
        return nullptr;
    }
    Texture& entry = textures_[static_cast<std::size_t>(count_++)];
    entry.fileName = std::string(fileName);
    return &entry;
}

}  // namespace lumeno
