#!/usr/bin/env bash
# Rebuilds blink.hex and blink.eep from blink.c (Debian: gcc-avr, avr-libc, binutils-avr).
set -euo pipefail
cd "$(dirname "$0")"
avr-gcc -mmcu=atmega8 -DF_CPU=1000000UL -Os -Wall -o blink.elf blink.c
avr-objcopy -O ihex -R .eeprom blink.elf blink.hex
avr-objcopy -O ihex -j .eeprom --change-section-lma .eeprom=0 blink.elf blink.eep
rm -f blink.elf
