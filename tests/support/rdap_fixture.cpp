#include "support/rdap_fixture.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <strings.h>
#include <thread>

namespace yuming::testing {

namespace asio = boost::asio;
namespace ssl = asio::ssl;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("RdapFixture: ") + what);
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension && X509_add_ext(cert, extension, -1) == 1, "cannot add a certificate extension");
    X509_EXTENSION_free(extension);
}

// A certificate for `key` named `commonName`, signed by the issuer (itself when none), valid
// from an hour ago for two days.
Cert makeCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, long serial) {
    Cert cert(X509_new());
    check(cert != nullptr, "out of memory");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 2 * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (!issuer) {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    } else {
        addExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
        addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        addExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1");
        addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    }
    check(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) > 0, "cannot sign a certificate");
    return cert;
}

std::string renderAnswer(const RdapFixture::Answer& answer, bool keepAlive) {
    if (answer.raw) return answer.body;
    const auto status = static_cast<http::status>(answer.status);
    const auto reason = http::obsolete_reason(status);
    std::string out = "HTTP/1.1 " + std::to_string(answer.status) + ' ' +
                      std::string(reason.data(), reason.size()) + "\r\n";
    if (!answer.contentType.empty()) out += "Content-Type: " + answer.contentType + "\r\n";
    bool framed = false;
    for (const auto& [name, value] : answer.headers) {
        out += name + ": " + value + "\r\n";
        framed = framed || strcasecmp(name.c_str(), "Content-Length") == 0 ||
                 strcasecmp(name.c_str(), "Transfer-Encoding") == 0;
    }
    if (!framed) out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    if (!keepAlive) out += "Connection: close\r\n";
    return out + "\r\n" + answer.body;
}

bool ownFraming(const RdapFixture::Answer& answer) {
    if (answer.raw) return false;
    for (const auto& header : answer.headers)
        if (strcasecmp(header.first.c_str(), "Content-Length") == 0 ||
            strcasecmp(header.first.c_str(), "Transfer-Encoding") == 0)
            return false;
    return true;
}

} // namespace

struct RdapFixture::Impl {
    explicit Impl(bool https);
    void makeCertificates();
    void accept();
    // Counts the request; what to answer, or nothing while the registry is down.
    std::optional<Answer> take(const std::string& path, std::string head);

    const bool https;
    ssl::context tls{ssl::context::tls_server};
    std::filesystem::path dir;
    std::string caPath;
    unsigned short port = 0;

    mutable std::mutex lock;
    std::map<std::string, std::vector<Answer>> answers;
    std::map<std::string, std::size_t> answered;
    std::map<std::string, std::vector<Clock::time_point>> arrivals;
    std::map<std::string, std::string> heads;
    bool down = false;

    // After what the sessions use: sessions still queued are destroyed with the io_context.
    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptPause{io};
    std::thread thread;
};

namespace {

template <class Stream> class Session : public std::enable_shared_from_this<Session<Stream>> {
public:
    Session(RdapFixture::Impl& fixture, Stream stream)
        : m_fixture(fixture), m_stream(std::move(stream)), m_timer(m_fixture.io) {}

    void start() {
        if constexpr (std::is_same_v<Stream, tcp::socket>) {
            readRequest();
        } else {
            m_stream.async_handshake(ssl::stream_base::server,
                                     [self = this->shared_from_this()](error_code ec) {
                                         if (!ec) self->readRequest();
                                     });
        }
    }

private:
    void readRequest() {
        m_parser.emplace();
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = this->shared_from_this()](error_code ec, std::size_t) { self->onRequest(ec); });
    }

    void onRequest(error_code ec) {
        if (ec) return;
        const auto target = m_parser->get().target();
        const std::string path(target.data(), std::min(target.size(), target.find('?')));
        std::ostringstream head;
        head << m_parser->get().base();
        const std::optional<RdapFixture::Answer> answer = m_fixture.take(path, head.str());
        if (!answer) return;
        m_keepAlive = m_parser->get().keep_alive() && ownFraming(*answer);
        m_out = renderAnswer(*answer, m_keepAlive);
        m_sent = 0;
        m_trickle = answer->trickle;
        m_trickleStep = answer->trickleStep;
        if (answer->delay.count() <= 0) return write();
        m_timer.expires_after(answer->delay);
        m_timer.async_wait([self = this->shared_from_this()](error_code waited) {
            if (!waited) self->write();
        });
    }

    void write() {
        const std::size_t size =
            m_trickle ? std::min<std::size_t>(1, m_out.size() - m_sent) : m_out.size() - m_sent;
        asio::async_write(m_stream, asio::buffer(m_out.data() + m_sent, size),
                          [self = this->shared_from_this()](error_code ec, std::size_t written) {
                              if (ec) return;
                              self->m_sent += written;
                              self->onWritten();
                          });
    }

    void onWritten() {
        if (m_sent < m_out.size()) {
            m_timer.expires_after(m_trickleStep);
            m_timer.async_wait([self = this->shared_from_this()](error_code waited) {
                if (!waited) self->write();
            });
            return;
        }
        if (m_keepAlive) return readRequest();
        if constexpr (std::is_same_v<Stream, tcp::socket>) {
            error_code ignored;
            m_stream.shutdown(tcp::socket::shutdown_send, ignored);
        } else {
            m_stream.async_shutdown([self = this->shared_from_this()](error_code) {});
        }
    }

    RdapFixture::Impl& m_fixture;
    Stream m_stream;
    asio::steady_timer m_timer;
    boost::beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::string m_out;
    std::size_t m_sent = 0;
    bool m_trickle = false;
    std::chrono::milliseconds m_trickleStep{0};
    bool m_keepAlive = false;
};

} // namespace

RdapFixture::Impl::Impl(bool useHttps) : https(useHttps) {
    if (https) makeCertificates();
    const tcp::endpoint loopback(asio::ip::make_address("127.0.0.1"), 0);
    acceptor.open(loopback.protocol());
    acceptor.bind(loopback);
    acceptor.listen(asio::socket_base::max_listen_connections);
    port = acceptor.local_endpoint().port();
    accept();
    thread = std::thread([this] { io.run(); });
}

void RdapFixture::Impl::makeCertificates() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rdap-fixture-XXXXXX").string();
    check(::mkdtemp(pattern.data()) != nullptr, "cannot make a temporary folder");
    dir = pattern;
    caPath = (dir / "ca.pem").string();

    const Key caKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    const Key serverKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    check(caKey && serverKey, "cannot make keys");
    const Cert ca = makeCert(caKey.get(), "yuming test CA", nullptr, nullptr, 1);
    const Cert server = makeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), 2);

    FILE* file = std::fopen(caPath.c_str(), "w");
    check(file != nullptr, "cannot write the CA file");
    const bool written = PEM_write_X509(file, ca.get()) == 1;
    check(std::fclose(file) == 0 && written, "cannot write the CA file");
    check(SSL_CTX_use_certificate(tls.native_handle(), server.get()) == 1 &&
              SSL_CTX_use_PrivateKey(tls.native_handle(), serverKey.get()) == 1,
          "cannot use the server certificate");
}

void RdapFixture::Impl::accept() {
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (ec) {
            // Out of descriptors, most likely: try again shortly rather than spin.
            acceptPause.expires_after(std::chrono::milliseconds(20));
            acceptPause.async_wait([this](error_code waited) {
                if (!waited) accept();
            });
            return;
        }
        if (https)
            std::make_shared<Session<ssl::stream<tcp::socket>>>(
                *this, ssl::stream<tcp::socket>(std::move(socket), tls))
                ->start();
        else
            std::make_shared<Session<tcp::socket>>(*this, std::move(socket))->start();
        accept();
    });
}

std::optional<RdapFixture::Answer> RdapFixture::Impl::take(const std::string& path, std::string head) {
    const std::lock_guard guard(lock);
    arrivals[path].push_back(Clock::now());
    heads[path] = std::move(head);
    if (down) return std::nullopt;
    const auto found = answers.find(path);
    if (found == answers.end() || found->second.empty()) {
        Answer missing;
        missing.status = 404;
        missing.contentType = "text/plain";
        missing.body = "not found";
        return missing;
    }
    const std::size_t turn = answered[path]++;
    return found->second[std::min(turn, found->second.size() - 1)];
}

RdapFixture::RdapFixture(bool https) : m_impl(std::make_unique<Impl>(https)) {}

RdapFixture::~RdapFixture() {
    m_impl->io.stop();
    m_impl->thread.join();
    if (!m_impl->dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_impl->dir, ignored);
    }
}

std::string RdapFixture::baseUrl() const {
    return (m_impl->https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_impl->port) +
           "/rdap/";
}

unsigned short RdapFixture::port() const {
    return m_impl->port;
}

std::string RdapFixture::caFile() const {
    return m_impl->caPath;
}

void RdapFixture::set(const std::string& path, Answer answer) {
    setSequence(path, {std::move(answer)});
}

void RdapFixture::setSequence(const std::string& path, std::vector<Answer> answers) {
    const std::lock_guard guard(m_impl->lock);
    m_impl->answers[path] = std::move(answers);
    m_impl->answered[path] = 0;
}

int RdapFixture::hits(const std::string& path) const {
    const std::lock_guard guard(m_impl->lock);
    const auto found = m_impl->arrivals.find(path);
    return found == m_impl->arrivals.end() ? 0 : static_cast<int>(found->second.size());
}

std::vector<std::chrono::steady_clock::time_point> RdapFixture::hitTimes(const std::string& path) const {
    const std::lock_guard guard(m_impl->lock);
    const auto found = m_impl->arrivals.find(path);
    return found == m_impl->arrivals.end() ? std::vector<Clock::time_point>{} : found->second;
}

std::string RdapFixture::lastRequest(const std::string& path) const {
    const std::lock_guard guard(m_impl->lock);
    const auto found = m_impl->heads.find(path);
    return found == m_impl->heads.end() ? std::string() : found->second;
}

std::string RdapFixture::writeBootstrap(const std::string& folder, const std::string& base) {
    const std::string path = folder + "/bootstrap.json";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << R"({"version":"1.0","services":[[["com","net","org"],[")" << base << R"("]]]})";
    return path;
}

void RdapFixture::stopAnswering(bool down) {
    const std::lock_guard guard(m_impl->lock);
    m_impl->down = down;
}

} // namespace yuming::testing
