#pragma once
// Network locations and credentials of lanternquest-cli. A LOCATION is network when it
// is the word "network" (the entire network), a UNC name (\\host, \\host\share[\dir]) or
// an smb://host[:port][/share[/dir]] URL, or an IPv4 address range "a.b.c.d/N" (N from 16
// to 32) whose SMB servers are searched. Credentials come as smbclient users know them:
// -U [DOMAIN\]USER with the password read from the terminal (echo off) or, when standard
// input is no terminal, its first line; or -A FILE with "username =", "password =",
// "domain =" lines. A password is never taken from the command line.
#include <string>

#include "cli/cli_options.h"
#include "engine/search_task.h"
#include "smb/smb_credentials.h"

bool IsNetworkLocation(const std::string& location);

// Makes task a network task for location: the entire network, a server, or a share (or a
// folder below one) as a container, so that a refused share is reported in the error
// log and an accessible one is then walked. Throws TUsageError for a malformed location.
void SetNetworkLocation(const std::string& location, TSearchTask& task);

// Sets the SMB client up (before any worker runs) and, when -U or -A was given, connects
// the credentials for the location's server. Throws TUsageError for bad options and
// std::runtime_error when the server refuses them.
void PrepareCliNetwork(const TCliOptions& options);

// "[DOMAIN\]USER" (or DOMAIN/USER) into domain and user; TUsageError when it holds a
// password ("%") or no user.
TSmbCredentials ParseUserOption(const std::string& text);

// Reads an authentication file; throws std::runtime_error when it cannot be read and
// TUsageError when it names no user.
TSmbCredentials ReadAuthenticationFile(const std::string& path);
