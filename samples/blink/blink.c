/* A small sample program for an ATmega8: blinks an LED on PB0 and keeps a
 * 16-bit serial number in EEPROM, so that an auto-program project with a
 * serial-number counter has something real to program. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <util/delay.h>

uint16_t serial_number EEMEM = 0x0001;

int main(void)
{
    DDRB |= _BV(PB0);
    uint16_t n = eeprom_read_word(&serial_number);
    for (;;) {
        /* blink the low byte of the serial number, then pause */
        for (uint8_t i = 0; i < (uint8_t)n; ++i) {
            PORTB |= _BV(PB0);
            _delay_ms(150);
            PORTB &= ~_BV(PB0);
            _delay_ms(150);
        }
        _delay_ms(1500);
    }
}
