#!/bin/sh
# Monitor of the 7.0 instrumentation for Linux on 64-bit RISC-V nodes (kept for old servers).
uptime
