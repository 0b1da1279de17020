// Python sources frozen into the extension at build time (see cmake/freeze_glue.cmake).
#pragma once
#include <vector>

namespace tesmar::py {

struct GlueSource {
    const char* name;    // dotted module name, or "_bootstrap" for the module loader
    const char* source;
};

const std::vector<GlueSource>& glue_sources();

}  // namespace tesmar::py
