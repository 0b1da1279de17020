// tesmar.cli's native part: what the `info` subcommand reports about the build.
#include "engine/openssl.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

PyObject* openssl_version(PyObject* const*) {
    const std::string v = ossl::version_text();
    return PyUnicode_DecodeUTF8(v.data(), static_cast<Py_ssize_t>(v.size()), "replace");
}

const Register functions{
    FunctionSpec{"tesmar.cli", "_openssl_version", openssl_version, {}, "str",
                 "Return the version text of the OpenSSL the extension runs on."},
};

}  // namespace
}  // namespace tesmar::py
