#pragma once
// The system's socket headers, for the parts of the platform layer that every platform shares.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
