// A real FastCGI round trip: the web server's side is played by cgi-fcgi,
// the worker is a small responder on the toolkit's request loop linked
// with the real kit, listening on a socket that is its descriptor 0.
#include "loop_util.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

using namespace looptest;

namespace {

int listenOn(const std::string &path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(fd, 5) != 0)
        return -1;
    return fd;
}

// Runs one request through cgi-fcgi; returns its output ("" on failure).
std::string request(const TempDir &dir, const std::string &env, const std::string &body)
{
    {
        std::ofstream(dir.file("body")) << body;
    }
    std::string cmd = "cd '" + dir.path() + "' && env -i " + env +
                      " CONTENT_LENGTH=" + std::to_string(body.size()) +
                      " SCRIPT_NAME=/app timeout 20 cgi-fcgi -bind -connect app.sock"
                      " <body >out 2>err";
    if (std::system(cmd.c_str()) != 0)
        return "";
    return readFile(dir.file("out"));
}

TEST(FastCgiRoundTrip, ServesRequestsThenEndsOnSigtermWhileIdle)
{
    TempDir dir;
    const std::string logPath = dir.file("responder.log");
    int lfd = listenOn(dir.file("app.sock"));
    ASSERT_GE(lfd, 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(lfd, 0);
        close(lfd);
        setenv("RESPONDER_LOG", logPath.c_str(), 1);
        execl(RESPONDER_PATH, "xfcgi_responder", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(lfd);

    EXPECT_EQ(request(dir, "REQUEST_METHOD=GET QUERY_STRING='a=1&b=2'", ""),
              "Content-type: text/plain\r\n\r\nquery=[a=1&b=2]\nbody=[]\n");
    EXPECT_EQ(request(dir, "REQUEST_METHOD=POST QUERY_STRING=x", "hello world"),
              "Content-type: text/plain\r\n\r\nquery=[x]\nbody=[hello world]\n");

    ASSERT_TRUE(waitBlocked(pid, logPath, "served query [x]"));
    kill(pid, SIGTERM);
    int st = waitChild(pid);
    ASSERT_TRUE(st >= 0 && WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    std::string text = readFile(logPath);
    EXPECT_NE(text.find("Ready with FastCGI input"), std::string::npos);
    EXPECT_EQ(count(text, "served query ["), 2u);
    EXPECT_TRUE(hasLogPrefix(text, "Got SIGTERM while idle\n", "served query [x]")) << text;
}

} // namespace
