#include <openssl/crypto.h>

namespace merrow {
namespace {

// OpenSSL frees its global state from an exit handler of its own, and that handler
// runs before the libraries' unload hooks finalize the transport: a TLS connect
// still being cancelled on a transport thread would then take freed locks, and the
// transport threads' own OpenSSL state, freed only while the library's thread key
// exists, would leak. The state is kept until the process ends instead; each thread
// frees its own when it exits. This runs when the library is loaded, before any
// other OpenSSL call of ours, because only the first initialization decides it.
[[maybe_unused]] const bool g_openSslKeptUntilExit = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

} // namespace
} // namespace merrow
