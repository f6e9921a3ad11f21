// The sockets of a cardsim process and its event loop. One thread serves
// every card: the shared search socket (UDP 0.0.0.0:4400), each card's own
// UDP socket on its address (replies leave from it, so they come from the
// card's address), its TCP listeners and their connections.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card.h"
#include "command_stream.h"
#include "options.h"
#include "wire_log.h"

namespace sim {

constexpr int kSearchPort = 4400;
// A line left without its line end is taken as complete after this quiet time.
constexpr int kIdleLineMs = 250;

class Server {
 public:
  explicit Server(const Options& options);
  ~Server();
  // Opens every socket; false (with a message) when one cannot be opened.
  bool Start(std::string* error);
  void Run(const std::atomic<bool>& stop);

 private:
  struct Outgoing {
    std::int64_t due;
    std::string bytes;
  };
  struct Connection {
    std::uint64_t id = 0;
    int fd = -1;
    int card = 0;
    int port = 0;
    std::unique_ptr<CommandStream> stream;
    Session session;
    std::deque<Outgoing> out;
    std::int64_t lastRx = 0;
    std::int64_t next485 = 0;
    std::size_t consumed = 0;  // of the stream, already counted as processed
    bool closing = false;
  };
  struct CardNet {
    std::unique_ptr<Card> card;
    std::vector<std::pair<int, int>> listeners;  // fd, port
    int udp = -1;
    std::optional<std::int64_t> bootAt;
    int accepted = 0;
    bool refusing = false;  // --refuse-after: the TCP ports stay closed from now on
    int commands = 0;       // command lines acted on, for --freeze-after
    std::uint32_t noise = 0;  // --garbage-file-port: the state of its noise
  };
  struct Datagram {
    std::int64_t due;
    int card;
    sockaddr_in to;
    std::string bytes;
  };
  // A datagram sent again and again (--repeat-search-ms, --search-noise-ms);
  // card -1 sends from the shared search socket.
  struct Echo {
    int card;
    sockaddr_in to;
    std::string bytes;
    std::int64_t next;
    int periodMs;
  };

  std::int64_t Now() const;
  bool OpenCardSockets(CardNet& c, std::string* error);
  void CloseCardSockets(CardNet& c);
  void CloseListeners(CardNet& c);
  void Refuse(CardNet& c);
  void Account(Connection& c);
  void Accept(int card, int listenFd, int port);
  void ReadConnection(Connection& c);
  void WriteConnection(Connection& c);
  void Queue(Connection& c, std::string bytes, bool isRecord);
  // --freeze-after: the card has acted on all it will.
  bool Frozen(const CardNet& net) const;
  void OnCommand(Connection& c, Command&& cmd);
  void OnProgress(Connection& c, const Command& partial, std::size_t wireBytes);
  void CloseConnection(Connection& c, const char* why);
  void ReadDatagrams(int fd, std::optional<int> onlyCard);
  void OnSearchCommand(const Command& cmd, const sockaddr_in& from, std::optional<int> onlyCard);
  void SendDue();
  void StartEcho(int card, const sockaddr_in& to, std::string bytes, std::int64_t first, int periodMs);
  void Housekeeping();
  int PollTimeout() const;

  Options options_;
  WireLog wire_;
  std::int64_t start_ = 0;
  int search_ = -1;
  std::vector<CardNet> cards_;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::uint64_t nextConnection_ = 1;
  std::deque<Datagram> datagrams_;
  std::vector<Echo> echoes_;
};

}  // namespace sim
