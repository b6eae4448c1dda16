// The CGI engine against a web server that wants Digest authentication.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/cgi_client.h"
#include "core/hashes.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"
#include "support/tcp_states.h"

using namespace ipcam;
using kestrel_test::openDescriptors;

namespace {

// A web server on 127.0.0.1 that answers each request (one per connection) as a test says.
class ScriptedServer {
  public:
    using Answer = std::function<std::string(const std::string &request)>;

    explicit ScriptedServer(Answer answer) : answer_(std::move(answer)) {
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        stop_ = true;
        thread_.join();
    }
    uint16_t port() const { return listener_.port(); }
    std::vector<std::string> requests() {
        std::lock_guard guard(lock_);
        return requests_;
    }

  private:
    void serve() {
        while (!stop_) {
            int fd = listener_.accept(100);
            if (fd < 0) continue;
            std::string request;
            char c;
            while (request.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1)
                request.push_back(c);
            {
                std::lock_guard guard(lock_);
                requests_.push_back(request);
            }
            kestrel_test::sendText(fd, answer_(request));
            shutdown(fd, SHUT_RDWR);
            close(fd);
        }
    }

    Answer answer_;
    kestrel_test::Listener listener_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

const char *const kOk = "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nStatus=1\n";

std::string unauthorised(const std::string &challenges) {
    return "HTTP/1.1 401 Unauthorized\r\n" + challenges + "Content-Length: 0\r\n\r\n";
}

// What a client with this account must send for the server's MD5 challenge with qop.
std::string digestLine(const std::string &password, const std::string &uri, const char *nc) {
    const std::string ha1 = md5Hex("admin:cam:" + password);
    const std::string ha2 = md5Hex("GET:" + uri);
    const std::string response = md5Hex(ha1 + ":n0nce:" + nc + ":c0ffee:auth:" + ha2);
    return "Authorization: Digest username=\"admin\", realm=\"cam\", nonce=\"n0nce\", uri=\"" +
           uri + "\", response=\"" + response + "\", algorithm=MD5, qop=auth, nc=" + nc +
           ", cnonce=\"c0ffee\", opaque=\"0p\"\r\n";
}

class CgiDigestTest : public ::testing::Test {
    kestrel_test::ScopedTimeouts timeouts{300};

  protected:
    void SetUp() override { descriptors = openDescriptors(); }
    void TearDown() override {
        EXPECT_EQ(openDescriptors(), descriptors) << "a socket was left open";
    }
    void prepare(CgiClient &c, uint16_t port, const char *password) {
        c.authenticator() = Authenticator([] { return std::string("c0ffee"); });
        ASSERT_EQ(c.SetAddress("127.0.0.1", port), 0);
        ASSERT_EQ(c.SetCredentials("admin", password), 0);
    }
    int descriptors = 0;
};

// A camera that takes only Digest MD5 with qop: Basic is offered beside it but refused.
std::string digestCamera(const std::string &request) {
    const std::string challenge =
        "WWW-Authenticate: Basic realm=\"cam\"\r\nWWW-Authenticate: Digest realm=\"cam\", "
        "qop=\"auth,auth-int\", nonce=\"n0nce\", opaque=\"0p\", algorithm=MD5\r\n";
    const std::size_t line = request.find("\r\n");
    const std::string uri = request.substr(4, request.find(' ', 4) - 4);
    for (const char *nc : {"00000001", "00000002", "00000003"})
        if (request.substr(line + 2) == digestLine("secret", uri, nc) + "\r\n") return kOk;
    return unauthorised(challenge);
}

TEST_F(CgiDigestTest, AnswersDigestOnceAndThenAtOnce) {
    ScriptedServer server(digestCamera);
    CgiClient c;
    prepare(c, server.port(), "secret");
    EXPECT_EQ(c.Get("GetStatus.cgi"), kCgiAccepted);
    EXPECT_NE(std::string(c.ReplyText()).find("Status=1"), std::string::npos);
    EXPECT_EQ(c.Set("SetImage.cgi", "CH=1&Hue=3"), kCgiAccepted);
    EXPECT_EQ(c.Get("GetStatus.cgi"), kCgiAccepted);

    const std::vector<std::string> expected = {
        "GET /GetStatus.cgi HTTP/1.1\r\nAuthorization:Basic YWRtaW46c2VjcmV0\r\n\r\n",
        "GET /GetStatus.cgi HTTP/1.1\r\n" + digestLine("secret", "/GetStatus.cgi", "00000001") +
            "\r\n",
        "GET /SetImage.cgi?CH=1&Hue=3 HTTP/1.1\r\n" +
            digestLine("secret", "/SetImage.cgi?CH=1&Hue=3", "00000002") + "\r\n",
        "GET /GetStatus.cgi HTTP/1.1\r\n" + digestLine("secret", "/GetStatus.cgi", "00000003") +
            "\r\n",
    };
    EXPECT_EQ(server.requests(), expected);
}

// A refused answer costs one retry and no more, whatever the server offers next.
TEST_F(CgiDigestTest, WrongPasswordIsRefusedAfterOneRetry) {
    struct Case {
        const char *name;
        ScriptedServer::Answer answer;
        std::size_t requests;
    } cases[] = {
        {"Digest", digestCamera, 2},
        {"Basic only",
         [](const std::string &) {
             return unauthorised("WWW-Authenticate: Basic realm=\"cam\"\r\n");
         },
         1},
        {"nothing we can answer",
         [](const std::string &) { return unauthorised("WWW-Authenticate: NTLM\r\n"); }, 1},
        {"a fresh nonce every time",
         [](const std::string &r) {
             return unauthorised("WWW-Authenticate: Digest realm=\"cam\", nonce=\"" +
                                 std::to_string(r.size()) + "\"\r\n");
         },
         2},
    };
    for (const Case &k : cases) {
        ScriptedServer server(k.answer);
        CgiClient c;
        prepare(c, server.port(), "wrong");
        EXPECT_EQ(c.Get("GetStatus.cgi"), kCgiUnauthorised) << k.name;
        EXPECT_EQ(server.requests().size(), k.requests) << k.name;
        // The same client keeps refusing without a loop.
        EXPECT_EQ(c.Get("GetStatus.cgi"), kCgiUnauthorised) << k.name;
        EXPECT_LE(server.requests().size(), 2 * k.requests) << k.name;
    }
}

// Without an account the engine sends no Authorization line and has nothing to retry with.
TEST_F(CgiDigestTest, NoAccountNoRetry) {
    ScriptedServer server(digestCamera);
    CgiClient c;
    prepare(c, server.port(), "");
    ASSERT_EQ(c.SetCredentials("", ""), 0);
    EXPECT_EQ(c.Get("GetStatus.cgi"), kCgiUnauthorised);
    EXPECT_EQ(
        server.requests(),
        std::vector<std::string>{"GET /GetStatus.cgi HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n"});
}

}  // namespace
