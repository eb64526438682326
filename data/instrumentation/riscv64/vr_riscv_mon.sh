#!/bin/sh
# Vorant monitor for Linux on 64-bit RISC-V nodes: reports load and memory once a minute.
while :; do
  printf 'load=%s mem_free_kb=%s\n' "$(cut -d' ' -f1 /proc/loadavg)" "$(awk '/MemAvailable/ {print $2}' /proc/meminfo)"
  sleep 60
done
