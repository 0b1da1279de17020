// tesmar._internal: facts about the build that tools (the benchmarks, `tesmar info`) report.
#include "engine/openssl.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/function.hpp"

namespace tesmar::py {
namespace {

PyObject* openssl_version(PyObject* const*) {
    const std::string text = ossl::version();
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

const Register functions{
    FunctionSpec{"tesmar._internal", "_openssl_version", openssl_version, {}, "str",
                 "Return the version text of the OpenSSL tesmar runs on, e.g. 'OpenSSL 3.5.7 30 Sep 2025'.\n\n"
                 "The default build links its own pinned OpenSSL, which may differ from the one\n"
                 "hashlib and ssl use (ssl.OPENSSL_VERSION). Never raises."},
};

}  // namespace
}  // namespace tesmar::py
