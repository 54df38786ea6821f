#pragma once
// The simulated tester's end of the serial line: the master side of a pseudo-terminal whose
// slave plays the COM port the updater opens.
#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn::sim {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal() { close(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Opens a new pty with a raw slave; on failure errorText says why and nothing stays open.
  bool open(std::string& errorText);
  void close();

  bool isOpen() const { return master_ >= 0; }
  int masterFd() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

  // Reads what is queued without blocking; gives the count, 0 when nothing is there, -1 on error.
  long readAvailable(uint8_t* buffer, size_t capacity);
  // Bytes written to the updater that it has not read yet; 0 when unknown.
  size_t unreadByUpdater() const;
  // Writes all bytes, waiting briefly while the slave's input queue is full.
  bool writeAll(const uint8_t* bytes, size_t count);

 private:
  int master_ = -1;
  int slave_ = -1;  // held so the master never reads EIO while the updater has the port closed
  std::string slavePath_;
};

// Points linkPath at target by a rename over it, so a reader never sees the link missing.
bool publishLink(const std::string& linkPath, const std::string& target, std::string& errorText);
// Removes linkPath when it still points at target.
void removeLink(const std::string& linkPath, const std::string& target);

}  // namespace quarn::sim
