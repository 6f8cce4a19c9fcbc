#include "loopback.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "records/link_state.h"
#include "records/usb_peer.h"
#include "writable_records.h"

int OpenLoopbackUdp(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int size = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  if (port) *port = ntohs(addr.sin_port);
  return fd;
}

std::vector<Datagram> ReceiveDatagrams(int fd, int quiet_ms, int first_wait_ms) {
  std::vector<Datagram> out;
  int wait = first_wait_ms;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, wait) <= 0) break;
    uint8_t buf[70000];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) break;
    out.emplace_back(buf, buf + n);
    wait = quiet_ms;
  }
  return out;
}

void SendTo(int fd, uint16_t port, const void* data, size_t length) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  sendto(fd, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

CameraEnd AttachCameraEnd(bool link_up) {
  CameraEnd end;
  end.box_fd = OpenLoopbackUdp(&end.box_port);
  end.camera_fd = OpenLoopbackUdp(&end.camera_port);
  SetUsbSocket(end.box_fd);
  sockaddr_in camera{};
  camera.sin_family = AF_INET;
  camera.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  camera.sin_port = htons(end.camera_port);
  SetCameraAddress(camera);
  WritableLinkState()->link_up = link_up ? 1 : 0;
  return end;
}

void DetachCameraEnd(CameraEnd& end) {
  SetUsbSocket(-1);
  WritableLinkState()->link_up = 0;
  if (end.box_fd >= 0) close(end.box_fd);
  if (end.camera_fd >= 0) close(end.camera_fd);
  end.box_fd = end.camera_fd = -1;
}

SentFrame DecodeSentFrame(const Datagram& d) {
  SentFrame f{};
  FrameFields fields{};
  f.raw = d;
  if (DecodeFrame(d.data(), d.size(), &fields)) {
    f.sender = fields.sender;
    f.receiver = fields.receiver;
    f.type = fields.type;
    f.set = fields.set;
    f.id = fields.id;
    f.sequence = fields.sequence;
    f.payload.assign(fields.payload, fields.payload + fields.payload_length);
    f.checksum_ok = fields.checksum_ok && fields.header_ok;
  }
  return f;
}

std::vector<SentFrame> TakeFrames(const CameraEnd& end, int quiet_ms, int first_wait_ms) {
  std::vector<SentFrame> frames;
  for (auto& d : ReceiveDatagrams(end.camera_fd, quiet_ms, first_wait_ms)) frames.push_back(DecodeSentFrame(d));
  return frames;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string out;
  char part[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    snprintf(part, sizeof part, i ? " %02X" : "%02X", bytes[i]);
    out += part;
  }
  return out;
}

std::string FrameText(const SentFrame& f) {
  char head[64];
  snprintf(head, sizeof head, "%u %02X>%02X %02X %02X:%02X", static_cast<unsigned>(f.raw.size()), f.sender, f.receiver,
           f.type, f.set, f.id);
  std::string out = head;
  if (!f.payload.empty()) out += " | " + HexBytes(f.payload);
  return out;
}
