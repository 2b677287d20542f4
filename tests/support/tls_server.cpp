#include "tls_server.hpp"

#include "http_receiver.hpp"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

namespace quotalume::test {
namespace {

// A P-256 key and a one-day certificate for 127.0.0.1 signed by itself.
std::shared_ptr<SSL_CTX> selfSignedContext() {
    std::shared_ptr<EVP_PKEY> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::shared_ptr<X509> certificate(X509_new(), X509_free);
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!key || !certificate || !context) {
        throw std::runtime_error("TLS set-up");
    }
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0 ||
        SSL_CTX_use_certificate(context.get(), certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1) {
        throw std::runtime_error("TLS certificate");
    }
    return context;
}

}  // namespace

UntrustedTLSServer::UntrustedTLSServer() {
    auto context = selfSignedContext();
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this, context] {
        for (;;) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                return;  // shut down
            }
            SSL* session = SSL_new(context.get());
            SSL_set_fd(session, client);
            (void)SSL_accept(session);  // the client gives up once it sees the certificate
            SSL_free(session);
            ::close(client);
        }
    });
}

UntrustedTLSServer::~UntrustedTLSServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
}

std::string UntrustedTLSServer::url() const {
    return "https://127.0.0.1:" + std::to_string(port_) + "/hook";
}

}  // namespace quotalume::test
