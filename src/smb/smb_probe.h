#pragma once
// A short probe of a host's SMB port, made before the library talks to the host: the
// library waits 10 s for a host that drops packets, and up to 25 s for one that accepts
// a connection and never answers (each port in turn, with gaps between); the probe
// connects within kSmbProbeTimeoutMs and then wants the server's answer to its first
// request within kSmbAnswerTimeoutMs, so a host costs at most their sum.
// Results are kept for a while per host so that a search does not probe for every folder.
// A caller that knows the host early may start the probe on the side (StartSmbProbe).
// Safe from any thread (ProbeLock, a leaf lock, is never held while waiting on the network).
#include <cstdint>
#include <string>

inline constexpr int kSmbProbeTimeoutMs = 2000;
inline constexpr int kSmbAnswerTimeoutMs = 2500;

// NO_ERROR when host accepts a TCP connection on its SMB port (the port set for it, else
// 445 or 139) within kSmbProbeTimeoutMs and answers a negotiate (a NetBIOS session
// request on 139) within kSmbAnswerTimeoutMs after that; ERROR_BAD_NETPATH when it
// refuses, cannot be resolved, closes the connection or does not answer in time. A NetBIOS name (up to 15 bytes, no dot) that the
// system resolver does not know is not probed: NO_ERROR, and the library resolves it.
uint32_t ProbeSmbHost(const std::string& host);

// Starts probing host on a thread of its own and returns at once; the next ProbeSmbHost of
// host waits for that probe instead of making one. The name is resolved before this
// returns, so the probe's thread uses nothing of the process but its own sockets: the
// caller may set the SMB client up meanwhile (which changes the environment for a moment).
// Nothing happens when a result is kept or a probe is under way already.
void StartSmbProbe(const std::string& host);

// What a host's answer to its probe said of the protocols it speaks.
enum class TSmbProbeAnswer {
  None,   // no fresh probe result, no answer, or the name was not probed
  Other,  // an answer, but not in SMB2: an SMB1 negotiate, or the NetBIOS session's
  Smb2,   // the host chose SMB2 from the probe's offer of SMB1 and SMB2
};

// The answer of host's latest fresh probe (ProbeSmbHost).
TSmbProbeAnswer SmbProbeAnswer(const std::string& host);

// Notes that host took a connection only once SMB1 was allowed too; kept until
// ForgetSmbProbes.
void NoteSmb1OnlyHost(const std::string& host);
bool IsSmb1OnlyHost(const std::string& host);

// Forgets every kept result and what NoteSmb1OnlyHost noted (tests restart servers on the
// same address).
void ForgetSmbProbes();
