#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/text.h"

namespace sim {
namespace {

sockaddr_in Endpoint(std::uint32_t address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

int OpenSocket(int type, std::uint32_t address, int port, std::string* error) {
  int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (type == SOCK_DGRAM) ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in sa = Endpoint(address, port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
    *error = platform::Format("%s:%d: %s", AddressText(address).c_str(), port, std::strerror(errno));
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string FromText(const sockaddr_in& sa) {
  return AddressText(ntohl(sa.sin_addr.s_addr)) + ":" + std::to_string(ntohs(sa.sin_port));
}

}  // namespace

Server::Server(const Options& options) : options_(options), wire_(options.wireLog) { start_ = Now(); }

Server::~Server() {
  for (auto& [id, c] : connections_) ::close(c->fd);
  for (auto& c : cards_) CloseCardSockets(c);
  if (search_ >= 0) ::close(search_);
}

std::int64_t Server::Now() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() - start_;
}

bool Server::Start(std::string* error) {
  search_ = OpenSocket(SOCK_DGRAM, INADDR_ANY, kSearchPort, error);
  if (search_ < 0) return false;
  CardOptions co;
  co.firmware = options_.firmware;
  co.bootWindowMs = options_.bootWindowMs;
  co.acknowledge = !options_.faults.noAck;
  if (options_.faults.shortReads > 0) co.maxRawReply = static_cast<std::uint32_t>(options_.faults.shortReads);
  if (options_.faults.shortModbus > 0) co.maxModbusReply = static_cast<std::uint32_t>(options_.faults.shortModbus);
  co.moduleGiven = options_.moduleGiven;
  co.module = options_.module;
  for (int i = 0; i < options_.cards; ++i) {
    std::string dir = options_.stateDir.empty() ? "" : platform::Format("%s/card%02d", options_.stateDir.c_str(), i);
    CardNet net;
    net.card = std::make_unique<Card>(i, options_.addresses[static_cast<std::size_t>(i)], co, dir);
    net.card->Boot(Now());
    if (!OpenCardSockets(net, error)) return false;
    net.card->Persist(Now());
    cards_.push_back(std::move(net));
  }
  return true;
}

bool Server::OpenCardSockets(CardNet& c, std::string* error) {
  const std::uint32_t ip = c.card->address();
  c.udp = OpenSocket(SOCK_DGRAM, ip, kSearchPort, error);
  if (c.udp < 0) return false;
  std::vector<int> ports;
  if (!options_.faults.refuse && !c.refusing) ports = options_.recovery ? std::vector<int>{1000} : std::vector<int>{1001, 1002};
  for (int port : ports) {
    int fd = OpenSocket(SOCK_STREAM, ip, port, error);
    if (fd < 0) {
      CloseCardSockets(c);
      return false;
    }
    c.listeners.emplace_back(fd, port);
  }
  return true;
}

void Server::CloseListeners(CardNet& c) {
  for (auto& [fd, port] : c.listeners) ::close(fd);
  c.listeners.clear();
}

void Server::Refuse(CardNet& c) {
  if (c.refusing) return;
  c.refusing = true;
  CloseListeners(c);
  wire_.Event(Now(), AddressText(c.card->address()), 0, "refusing connections");
}

void Server::CloseCardSockets(CardNet& c) {
  CloseListeners(c);
  if (c.udp >= 0) ::close(c.udp);
  c.udp = -1;
}

void Server::Accept(int card, int listenFd, int port) {
  CardNet& net = cards_[static_cast<std::size_t>(card)];
  for (;;) {
    if (net.refusing) return;
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    // The last connection the card takes; later ones find its ports closed.
    if (options_.faults.refuseAfter > 0 && ++net.accepted >= options_.faults.refuseAfter) Refuse(net);
    auto c = std::make_unique<Connection>();
    c->id = nextConnection_++;
    c->fd = fd;
    c->card = card;
    c->port = port;
    c->session.port = port;
    c->lastRx = Now();
    Connection* raw = c.get();
    c->stream = std::make_unique<CommandStream>(
        [this, raw](Command&& cmd) { OnCommand(*raw, std::move(cmd)); },
        [this, raw](const Command& partial, std::size_t n) { OnProgress(*raw, partial, n); });
    wire_.Event(Now(), AddressText(cards_[static_cast<std::size_t>(card)].card->address()), port, "connect");
    connections_.emplace(c->id, std::move(c));
  }
}

bool Server::Frozen(const CardNet& net) const {
  return options_.faults.freezeAfter > 0 && net.commands >= options_.faults.freezeAfter;
}

void Server::Queue(Connection& c, std::string bytes, bool isRecord) {
  const Faults& f = options_.faults;
  if (f.dropReplies || c.closing || bytes.empty()) return;
  if (f.strayByte && isRecord) bytes.insert(bytes.begin(), '\0');
  if (f.garbageFilePort && c.port == 1002) {
    // xorshift32, seeded per card: the same noise run after run.
    std::uint32_t& x = cards_[static_cast<std::size_t>(c.card)].noise;
    if (x == 0) x = 0x9E3779B9u ^ static_cast<std::uint32_t>(c.card + 1);
    for (char& b : bytes) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<char>(x & 0xFF);
    }
  }
  std::int64_t due = Now() + f.delayMs;
  if (!c.out.empty()) due = std::max(due, c.out.back().due);
  const std::size_t piece = f.trickleMs > 0 ? 1 : static_cast<std::size_t>(f.splitBytes);
  const int gap = f.trickleMs > 0 ? f.trickleMs : f.splitGapMs;
  if (piece == 0) {
    c.out.push_back({due, std::move(bytes)});
    return;
  }
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    c.out.push_back({due, bytes.substr(at, piece)});
    due += gap;
  }
}

void Server::OnCommand(Connection& c, Command&& cmd) {
  CardNet& net = cards_[static_cast<std::size_t>(c.card)];
  if (Frozen(net)) return;
  ++net.commands;
  Card& card = *net.card;
  bool was485 = c.session.rs485 != 0;
  for (auto& reply : card.Execute(cmd, c.session, Now())) Queue(c, std::move(reply.bytes), reply.isRecord);
  if (!was485 && c.session.rs485 != 0) c.next485 = Now();
}

void Server::OnProgress(Connection& c, const Command& partial, std::size_t wireBytes) {
  if (Frozen(cards_[static_cast<std::size_t>(c.card)])) return;
  Card& card = *cards_[static_cast<std::size_t>(c.card)].card;
  for (int n = card.AcksOwed(partial, wireBytes, c.session); n > 0; --n) Queue(c, "ack\n", false);
}

void Server::ReadConnection(Connection& c) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n > 0) {
      const Card& card = *cards_[static_cast<std::size_t>(c.card)].card;
      wire_.Received(Now(), AddressText(card.address()), c.port, std::string_view(buf, static_cast<std::size_t>(n)));
      c.lastRx = Now();
      if (!options_.faults.silent) c.stream->Feed(std::string_view(buf, static_cast<std::size_t>(n)));
      Account(c);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0 && errno == EINTR) continue;
    // The tool closed: a line still waiting for its end is complete now.
    if (!options_.faults.silent) c.stream->Finish();
    Account(c);
    CloseConnection(c, "close");
    return;
  }
}

void Server::Account(Connection& c) {
  const std::size_t now = c.stream->consumed();
  cards_[static_cast<std::size_t>(c.card)].card->Processed(now - c.consumed);
  c.consumed = now;
}

void Server::WriteConnection(Connection& c) {
  const std::int64_t now = Now();
  while (!c.out.empty() && c.out.front().due <= now) {
    std::string& b = c.out.front().bytes;
    ssize_t n = ::send(c.fd, b.data(), b.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      CloseConnection(c, "send failed");
      return;
    }
    b.erase(0, static_cast<std::size_t>(n));
    if (!b.empty()) return;
    c.out.pop_front();
  }
}

void Server::CloseConnection(Connection& c, const char* why) {
  if (c.closing) return;
  c.closing = true;
  CardNet& net = cards_[static_cast<std::size_t>(c.card)];
  net.card->SessionClosed(c.session);
  wire_.Event(Now(), AddressText(net.card->address()), c.port, why);
}

void Server::ReadDatagrams(int fd, std::optional<int> onlyCard) {
  char buf[65536];
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    std::string card = onlyCard ? AddressText(cards_[static_cast<std::size_t>(*onlyCard)].card->address()) : "*";
    wire_.Received(Now(), card, kSearchPort, std::string_view(buf, static_cast<std::size_t>(n)), FromText(from));
    if (options_.faults.silent) continue;
    std::vector<Command> commands;
    CommandStream stream([&](Command&& c) { commands.push_back(std::move(c)); });
    stream.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
    stream.Finish();
    for (const auto& c : commands) OnSearchCommand(c, from, onlyCard);
  }
}

void Server::StartEcho(int card, const sockaddr_in& to, std::string bytes, std::int64_t first, int periodMs) {
  // One echo per card (and one of noise): a new search moves it to the new searcher.
  for (auto& e : echoes_)
    if (e.card == card) {
      e = {card, to, std::move(bytes), first, periodMs};
      return;
    }
  echoes_.push_back({card, to, std::move(bytes), first, periodMs});
}

void Server::OnSearchCommand(const Command& cmd, const sockaddr_in& from, std::optional<int> onlyCard) {
  const auto& w = cmd.words;
  const std::int64_t now = Now();
  const int noise = options_.faults.searchNoiseMs;
  if (noise > 0 && w.size() >= 2 && w[0] == "query") StartEcho(-1, from, std::string(64, '\x5A'), now + noise, noise);
  for (std::size_t i = 0; i < cards_.size(); ++i) {
    if (onlyCard && static_cast<std::size_t>(*onlyCard) != i) continue;
    Card& card = *cards_[i].card;
    if (!card.up() || Frozen(cards_[i])) continue;
    if (w.size() >= 2 && w[0] == "query") {
      bool answers = (w[1] == "all_in_strut" && (w.size() < 3 || w[2] == card.serial())) ||
                     (w[1] == "all_in_boot" && card.InBootWindow(now));
      if (!answers || options_.faults.dropReplies || options_.faults.noSearch) continue;
      datagrams_.push_back({now + options_.faults.delayMs, static_cast<int>(i), from, card.record().bytes()});
      if (const int period = options_.faults.repeatSearchMs; period > 0)
        StartEcho(static_cast<int>(i), from, card.record().bytes(), now + options_.faults.delayMs + period, period);
    } else {
      card.ExecuteBroadcast(cmd, now);
    }
  }
}

void Server::SendDue() {
  const std::int64_t now = Now();
  while (!datagrams_.empty() && datagrams_.front().due <= now) {
    Datagram d = std::move(datagrams_.front());
    datagrams_.pop_front();
    int fd = cards_[static_cast<std::size_t>(d.card)].udp;
    if (fd >= 0)
      ::sendto(fd, d.bytes.data(), d.bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&d.to), sizeof d.to);
  }
  for (auto& e : echoes_) {
    const int fd = e.card < 0 ? search_ : cards_[static_cast<std::size_t>(e.card)].udp;
    // What fell due while the process was not scheduled goes now (a little
    // of it): the traffic keeps its rate on a loaded machine.
    for (int burst = 0; e.next <= now && burst < 50; ++burst) {
      if (fd >= 0)
        ::sendto(fd, e.bytes.data(), e.bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&e.to), sizeof e.to);
      e.next += e.periodMs;
    }
    if (e.next <= now) e.next = now + e.periodMs;
  }
  for (auto& [id, c] : connections_) {
    if (c->closing) continue;
    Card& card = *cards_[static_cast<std::size_t>(c->card)].card;
    if (c->session.rs485 != 0 && now >= c->next485) {
      Queue(*c, card.Rs485Block(c->session), false);
      c->next485 = now + options_.rs485PeriodMs;
    }
    if (c->stream->HasPartialLine() && now - c->lastRx >= kIdleLineMs) {
      c->stream->FlushIdle();
      Account(*c);
    }
    WriteConnection(*c);
  }
}

void Server::Housekeeping() {
  const std::int64_t now = Now();
  if (options_.faults.refuseAfterMs > 0 && now >= options_.faults.refuseAfterMs)
    for (auto& net : cards_) Refuse(net);
  for (std::size_t i = 0; i < cards_.size(); ++i) {
    CardNet& net = cards_[i];
    Card& card = *net.card;
    if (card.up() && card.restartDue() && *card.restartDue() <= now) {
      // A restart drops every connection and the ports stay closed while
      // the card boots.
      card.ClearRestart();
      for (auto& [id, c] : connections_)
        if (c->card == static_cast<int>(i)) CloseConnection(*c, "reset");
      wire_.Event(now, AddressText(card.address()), 0, "restart");
      CloseCardSockets(net);
      card.GoDown();
      net.bootAt = now + options_.bootMs;
    }
    if (!card.up() && net.bootAt && *net.bootAt <= now) {
      card.Boot(now);
      std::string error;
      if (OpenCardSockets(net, &error)) {
        net.bootAt.reset();
        wire_.Event(now, AddressText(card.address()), 0, "up");
      } else {
        // Its new address is taken or cannot be bound: try again later.
        card.GoDown();
        net.bootAt = now + 1000;
        wire_.Event(now, AddressText(card.address()), 0, "boot failed: " + error);
      }
    }
    card.Persist(now);
  }
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->second->closing) {
      ::close(it->second->fd);
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

int Server::PollTimeout() const {
  const std::int64_t now = Now();
  std::int64_t next = now + 50;
  auto consider = [&](std::int64_t t) { next = std::min(next, t); };
  if (!datagrams_.empty()) consider(datagrams_.front().due);
  for (const auto& e : echoes_) consider(e.next);
  for (const auto& [id, c] : connections_) {
    if (!c->out.empty()) consider(c->out.front().due);
    if (c->session.rs485 != 0) consider(c->next485);
    if (c->stream->HasPartialLine()) consider(c->lastRx + kIdleLineMs);
  }
  if (options_.faults.refuseAfterMs > 0 && !cards_.empty() && !cards_.front().refusing)
    consider(options_.faults.refuseAfterMs);
  for (const auto& net : cards_) {
    if (net.card->restartDue()) consider(*net.card->restartDue());
    if (net.bootAt) consider(*net.bootAt);
  }
  return static_cast<int>(std::max<std::int64_t>(0, next - now));
}

void Server::Run(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    std::vector<pollfd> fds;
    struct Source {
      enum Kind { Search, CardUdp, Listener, Conn } kind;
      int card;
      int port;
      std::uint64_t conn;
    };
    std::vector<Source> sources;
    fds.push_back({search_, POLLIN, 0});
    sources.push_back({Source::Search, -1, 0, 0});
    for (std::size_t i = 0; i < cards_.size(); ++i) {
      const CardNet& net = cards_[i];
      if (net.udp >= 0) {
        fds.push_back({net.udp, POLLIN, 0});
        sources.push_back({Source::CardUdp, static_cast<int>(i), 0, 0});
      }
      for (auto [fd, port] : net.listeners) {
        fds.push_back({fd, POLLIN, 0});
        sources.push_back({Source::Listener, static_cast<int>(i), port, 0});
      }
    }
    const std::int64_t now = Now();
    for (const auto& [id, c] : connections_) {
      short ev = POLLIN;
      if (!c->out.empty() && c->out.front().due <= now) ev |= POLLOUT;
      fds.push_back({c->fd, ev, 0});
      sources.push_back({Source::Conn, c->card, c->port, id});
    }
    int r = ::poll(fds.data(), fds.size(), PollTimeout());
    if (r < 0 && errno != EINTR) break;
    for (std::size_t k = 0; r > 0 && k < fds.size(); ++k) {
      if (!fds[k].revents) continue;
      const Source& s = sources[k];
      switch (s.kind) {
        case Source::Search: ReadDatagrams(search_, std::nullopt); break;
        case Source::CardUdp: ReadDatagrams(fds[k].fd, s.card); break;
        case Source::Listener: Accept(s.card, fds[k].fd, s.port); break;
        case Source::Conn: {
          auto it = connections_.find(s.conn);
          if (it == connections_.end() || it->second->closing) break;
          if (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) ReadConnection(*it->second);
          if (!it->second->closing && (fds[k].revents & POLLOUT)) WriteConnection(*it->second);
          break;
        }
      }
    }
    SendDue();
    Housekeeping();
  }
  for (auto& net : cards_) net.card->Persist(Now());
}

}  // namespace sim
