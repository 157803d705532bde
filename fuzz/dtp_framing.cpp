// fuzz-libs: qor_gateway qor_foundation qor_xfcgi qor_xml qor_arc qor_fcgi
// The framed reader: the input arrives on a socket as the host would send
// it and is read frame by frame until the transport gives up. Every frame
// read must hold exactly the body its length word announced, and the
// transport must end closed when the input ends.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "DtpPacket.h"
#include "ZelSocketTransport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A socket pair holds the whole input without a writer thread.
    if (size > 64 * 1024) return 0;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    int sndbuf = 256 * 1024;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    size_t done = 0;
    while (done < size) {
        const ssize_t rc = write(fds[1], data + done, size - done);
        if (rc <= 0) break;
        done += static_cast<size_t>(rc);
    }
    close(fds[1]);

    CZelSocketTransport transport("FUZZ");
    transport.Adopt(fds[0]);
    CZelDtpPacket *reply = new CZelDtpPacket;
    reply->AddRef();
    size_t consumed = 0;
    for (int frames = 0; frames < 100000; ++frames) {
        if (transport.Read(*reply) != Result::Success) break;
        consumed += 4 + static_cast<size_t>(reply->GetLength());
        if (reply->GetOffset() != 4 || consumed > done) __builtin_trap();
        try {
            TPktInterfacePtr<TBasePktInterface> view(reply->QueryPacketInterface());
        } catch (CZelPktException *e) {
            delete e;
        }
    }
    if (transport.IsOpen()) __builtin_trap();
    reply->Release();
    return 0;
}
