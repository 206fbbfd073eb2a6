#!/usr/bin/python3
"""Keys typed ahead at a help page, at a real terminal (a pseudo-terminal).

The program runs at its main menu; the same keys are typed once at the menu
itself, where the terminal's line mode edits and shows them, and once at the
help page that "?" opens, which reads single keys and gives back the keys it
does not use. The program must answer both alike: the same messages, the same
end, and the keys given back shown where the terminal shows keys.

Usage: typed_ahead_test.py PATH-TO-KESTA
"""
import os
import pty
import re
import select
import shutil
import signal
import sys
import tempfile
import termios
import time
import unittest

KESTA = None
PAGE = b'<RETURN> = Next "page" --- ? = help ------:'
MENU = b'ENTER COMMAND'


class Terminal:
    """The program on a pseudo-terminal of TERM, its line mode set by SETUP (a termios list -> None)."""

    def __init__(self, term='dumb', setup=None):
        self.home = tempfile.mkdtemp(prefix='kesta-keys')
        env = dict(os.environ)
        env.pop('DISPLAY', None)
        env.update(TERM=term, HOME=self.home, COLUMNS='80', LINES='24')
        env.setdefault('ASAN_OPTIONS', 'detect_leaks=0')
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                os.chdir(self.home)
                if setup:
                    mode = termios.tcgetattr(0)
                    setup(mode)
                    termios.tcsetattr(0, termios.TCSANOW, mode)
                os.execve(KESTA, [KESTA, '-nogr', '-dim8x8'], env)
            finally:
                os._exit(127)
        self.out = bytearray()
        self.seen = 0
        self.status = None

    def pump(self, seconds):
        end = time.time() + seconds
        while time.time() < end and self.status is None:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    self.out.extend(os.read(self.fd, 65536))
                except OSError:
                    pass
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.status = status
        if self.status is not None:  # what was left behind the exit
            while select.select([self.fd], [], [], 0.05)[0]:
                try:
                    data = os.read(self.fd, 65536)
                except OSError:
                    break
                if not data:
                    break
                self.out.extend(data)

    def wait_for(self, text, seconds=30):
        end = time.time() + seconds
        while text not in self.out[self.seen:] and time.time() < end and self.status is None:
            self.pump(0.05)
        at = self.out.find(text, self.seen)
        if at < 0:
            raise AssertionError('no %r in %r' % (text, bytes(self.out[-2000:])))
        self.seen = at + len(text)

    def settle(self, quiet=0.4, seconds=30):
        """Reads until the program has been silent for QUIET seconds."""
        end = time.time() + seconds
        while time.time() < end and self.status is None:
            before = len(self.out)
            self.pump(quiet)
            if len(self.out) == before:
                return

    def type(self, keys):
        os.write(self.fd, keys)

    def close(self):
        if self.status is None:
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        os.close(self.fd)
        shutil.rmtree(self.home, ignore_errors=True)


def screen(data):
    """The lines a terminal shows for DATA (backspaces move back, text overwrites)."""
    lines = []
    for raw in data.replace(b'\r\n', b'\n').split(b'\n'):
        line, at = bytearray(), 0
        for c in raw:
            if c == 8:
                at = max(at - 1, 0)
            elif c == 13:
                at = 0
            else:
                if at < len(line):
                    line[at] = c
                else:
                    line.append(c)
                at += 1
        lines.append(bytes(line).rstrip())
    return lines


def answers(data):
    """The program's answers in DATA: its messages and whether it said good-bye."""
    said = (re.search(rb'(WARNING|ERROR): .*|INFO: BYE.*', line) for line in screen(data))
    return [found.group(0) for found in said if found]


def alike(data):
    """The screen of DATA with each prompt's default taken out (a help page changes it)."""
    return [re.sub(rb'\[[A-Z ]*\]:', b'[]:', line) for line in screen(data)]


def run(parts, at_page, count, term='dumb', setup=None):
    """Types PARTS (one after another, each when the program has answered the
    last) at the main menu, or after "?" at its help page with "q" before
    them; the output after that, once COUNT answers have come (or the program
    has ended) and a moment more."""
    t = Terminal(term, setup)
    try:
        t.wait_for(MENU)
        t.wait_for(b':')
        t.settle()
        if at_page:
            t.type(b'?\r')
            t.wait_for(PAGE)
            t.settle()
            parts = [b'q' + parts[0]] + parts[1:]
        start = len(t.out)
        for part in parts:
            t.type(part)
            t.settle()
        end = time.time() + 60
        while len(answers(t.out[start:])) < count and t.status is None and time.time() < end:
            t.pump(0.1)
        t.settle(1.0)
        return bytes(t.out[start:]), t.status
    finally:
        t.close()


def iutf8(mode):
    mode[0] |= getattr(termios, 'IUTF8', 0o40000)  # the Linux value, where the module lacks it


def no_echo(mode):
    mode[3] &= ~termios.ECHO


def erase_ctrl_h(mode):
    mode[6][termios.VERASE] = b'\x08'


def no_echoe(mode):
    mode[3] &= ~termios.ECHOE


def no_echoke(mode):
    mode[3] &= ~termios.ECHOKE


def no_line_mode(mode):
    mode[3] &= ~termios.ICANON


NO_DATA = b'WARNING: No data exists at the moment, you must "INPUT DATA" or "CREATE DATA"'
NO_CHOICE = b'WARNING: Entered text does not correspond to any of the available choices.'
BYE = b'INFO: BYE: KESTA V01.000 exited by user command'


class TypedAheadAtHelpPage(unittest.TestCase):
    def same_answers(self, parts, expected, term='dumb', setup=None, shown=None):
        direct, direct_end = run(parts, False, len(expected), term, setup)
        paged, paged_end = run(parts, True, len(expected), term, setup)
        self.direct = direct
        self.assertEqual(answers(direct), expected, direct)
        self.assertEqual(answers(paged), expected, paged)
        self.assertEqual(direct_end is None, paged_end is None)
        for line in shown or []:
            self.assertIn(line, screen(paged), paged)
        return paged

    def test_block_beyond_one_read_is_edited_and_shown(self):
        for term in ('dumb', 'xterm'):
            with self.subTest(term=term):
                paged = self.same_answers([b'FOO\r' * 70 + b'CLEAR\x15CADF\x7fD\r'],
                                          [NO_CHOICE] * 70 + [NO_DATA], term)
                if term == 'dumb':  # shown as the terminal shows the same keys typed ahead
                    self.assertIn(b'CADD', screen(paged))
                    self.assertNotIn(b'Main menu: ENTER COMMAND [HELP]:CADD', screen(paged))

    def test_word_erase_takes_whole_words_beyond_ascii(self):
        self.same_answers([b'FOO caf\xc3\xa9\x17\x17CADD\r'], [NO_DATA], setup=iutf8,
                          shown=[b"Main menu: ENTER COMMAND [HELP]:CADD"])
        self.same_answers([b'CADD na\xc3\xafve\x17\r'], [NO_DATA], setup=iutf8)

    def test_end_of_file_key_hands_on_the_line_then_ends_the_input(self):
        # Typed after the page gave the keys back, and within the block.
        self.same_answers([b'CADD', b'\x04', b'\x04'], [NO_DATA, BYE])
        self.same_answers([b'CADD\x04\x04'], [NO_DATA, BYE])
        self.same_answers([b'CA\x04DX\x7f\x7f\x7fDD\r'], [NO_DATA])
        # Pasted with the "?" that opens the page: the terminal still held them in its line mode.
        for keys, expected in ((b'?\rq\x04', [BYE]), (b'?\rqCADD\x04\x04', [NO_DATA, BYE])):
            with self.subTest(keys=keys):
                t = Terminal()
                try:
                    t.wait_for(MENU)
                    t.wait_for(b':')
                    t.settle()
                    start = len(t.out)
                    t.type(keys)
                    t.pump(10)
                    self.assertIsNotNone(t.status, bytes(t.out[start:]))
                    self.assertEqual(answers(t.out[start:]), expected)
                finally:
                    t.close()

    def test_stop_gives_the_terminal_back_and_going_on_takes_it_again(self):
        home = tempfile.mkdtemp(prefix='kesta-keys')
        pid, fd = pty.fork()
        if pid == 0:  # a job-control shell in miniature: the program a foreground job of its own
            try:
                signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                child = os.fork()
                if child == 0:
                    os.setpgid(0, 0)
                    os.tcsetpgrp(0, os.getpgrp())
                    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
                    os.chdir(home)
                    env = dict(os.environ, TERM='dumb', HOME=home)
                    env.pop('DISPLAY', None)
                    env.setdefault('ASAN_OPTIONS', 'detect_leaks=0')
                    os.execve(KESTA, [KESTA, '-nogr', '-dim8x8'], env)
                os.setpgid(child, child)
                _, status = os.waitpid(child, os.WUNTRACED)
                os.tcsetpgrp(0, os.getpgrp())
                stopped = termios.tcgetattr(0)[3]
                os.tcsetpgrp(0, child)
                os.kill(-child, signal.SIGCONT)
                time.sleep(1)
                going_on = termios.tcgetattr(0)[3]
                print('STOPPED %d LINE MODE %d, GOING ON LINE MODE %d.' % (
                    os.WIFSTOPPED(status), stopped & termios.ICANON != 0, going_on & termios.ICANON != 0),
                    flush=True)
                os.kill(-child, signal.SIGKILL)
            finally:
                os._exit(0)
        t = Terminal.__new__(Terminal)
        t.pid, t.fd, t.out, t.seen, t.status, t.home = pid, fd, bytearray(), 0, None, home
        try:
            t.wait_for(MENU)
            t.settle()
            t.type(b'?\r')
            t.wait_for(PAGE)
            t.settle()
            t.type(b'\x1a')  # Ctrl-Z
            t.wait_for(b'GOING ON', 10)
            t.settle()
            self.assertIn(b'STOPPED 1 LINE MODE 1, GOING ON LINE MODE 0.', t.out)
        finally:
            t.close()

    def test_return_ends_a_search_and_takes_the_line(self):
        # The line editor's search ends on Return and takes the line found; Ctrl-J only ends it.
        self.same_answers([b'FOO two\r\x12FOO\r'], [NO_CHOICE, NO_CHOICE], term='xterm')

    def test_literal_line_end_ends_the_line_the_program_reads(self):
        self.same_answers([b'CADD\x16\nCADD\x16\nFOO\r'], [NO_DATA, NO_DATA, NO_CHOICE])
        self.same_answers([b'CA', b'DD\x16\nFOO\x16\x7f\r'], [NO_DATA, NO_CHOICE])
        self.same_answers([b'CADD\x16\n\x7f\r'], [NO_DATA])  # taken back before the line ends

    def test_lines_the_terminal_made_wait_for_the_next_line_read(self):
        # A literal line end ends the line read, and what follows it belongs to
        # the same line of the terminal: the help page opened by the first
        # part never takes it as keys, the prompt after the page does.
        self.same_answers([b'?\x16\nCADD\r', b'q', b'FOO\r'], [NO_DATA, NO_CHOICE])
        self.same_answers([b'?\x16\nCADD\x16\nFOO\rq', b'BAR\r'], [NO_DATA, NO_CHOICE, NO_CHOICE])
        # Keys the page gives back were typed after that line: they come after it.
        self.same_answers([b'?\x16\nFOO\r', b'qCADD\r'], [NO_CHOICE, NO_DATA])

    def test_end_of_file_key_hands_on_a_literal_line_end_at_once(self):
        # The reader has its line at the end-of-file key, not at the next line end.
        self.same_answers([b'?\x16\nCADD\x04', b'q', b'\r', b'FOO\r'], [NO_DATA, NO_CHOICE])
        paged = self.same_answers([b'CADD\x16\nCA\x04', b'DD\r'], [NO_DATA, NO_DATA])
        self.assertIn(b'Main menu: ENTER COMMAND [INPUT DATA]:DD', screen(paged), paged)

    def test_part_line_in_the_stream_comes_before_keys_given_back(self):
        # "CA" handed on before the page opened, "DD" given back by the page.
        separately, _ = run([b'?\x16\nCA\x04', b'q', b'DD\r'], False, 1)
        at_once, _ = run([b'?\x16\nCA\x04', b'qDD\r'], False, 1)
        self.assertEqual(answers(separately), [NO_DATA], separately)
        self.assertEqual(answers(at_once), [NO_DATA], at_once)

    def test_lines_given_back_show_at_once_as_lines_typed_ahead_do(self):
        # The terminal shows lines typed ahead as they come, and the prompts
        # that read them later show only themselves: so do lines given back.
        for parts in ([b'FOO\rBAR\rBAZ\r'], [b'FOO\rBA\x7fR\r\x15BA', b'Z\r'],
                      [b'FOO\r\x04'], [b'FOO\rCA\x16\nDD\r'],
                      [b'CA', b'DD\rFOO\rBAR\r']):  # lines beyond one the terminal finished
            with self.subTest(parts=parts):
                count = sum(part.count(key) for part in parts for key in (b'\r', b'\n', b'\x04'))
                paged = self.same_answers(parts, answers(run(parts, False, count)[0]))
                shown = alike(paged)[1:]  # after the page's own line, from its prompt on
                shown[0] = shown[0].partition(b']:')[2]
                self.assertEqual(shown, alike(self.direct), paged)
        # Lines pasted with the key that opens the page the terminal showed
        # already: not again when the page gives them back.
        t = Terminal()
        try:
            t.wait_for(MENU)
            t.wait_for(b':')
            t.settle()
            t.type(b'?\rqFOO\rBAR\r')
            t.wait_for(PAGE)
            start = t.seen
            end = time.time() + 60
            while len(answers(t.out[start:])) < 2 and t.status is None and time.time() < end:
                t.pump(0.1)
            t.settle()
            self.assertEqual(answers(t.out[start:]), [NO_CHOICE] * 2)
            self.assertNotIn(b'FOO', t.out[start:])
            self.assertNotIn(b'BAR', t.out[start:])
        finally:
            t.close()

    def test_control_keys_show_as_the_terminal_shows_them(self):
        keys = b'FOO\x1bx\x01\x02\x7fY\x16\x15\r'
        direct, _ = run([keys], False, 1)
        paged = self.same_answers([keys], [NO_CHOICE])
        for out in (direct, paged):
            self.assertIn(b'FOO^[x^AY^U', [line[-11:] for line in screen(out)], out)

    def test_terminal_settings_are_followed(self):
        # Only the terminal's own erase key erases (Ctrl-H too where it is that key).
        self.same_answers([b'CADF\x08D\r'], [NO_CHOICE])
        self.same_answers([b'CADF\x08D\r'], [NO_DATA], setup=erase_ctrl_h)
        for term in ('dumb', 'xterm'):
            paged = self.same_answers([b'CADF\x7fD\r'], [NO_DATA], term, setup=no_echo)
            self.assertNotIn(b'CADD', paged)
            self.assertIn(b'Main menu: ENTER COMMAND [INPUT DATA]:', paged)  # the prompt still shows
        self.same_answers([b'CADF\x7fD\r'], [NO_CHOICE], setup=no_line_mode)

    def test_erase_shows_as_the_terminal_shows_it(self):
        # Keys given back, then the erase typed: a tab is taken back to where it began.
        paged = self.same_answers([b'CA\t', b'\x7fDD\r'], [NO_DATA])
        self.assertIn(b'[HELP]:CA\t' + b'\x08' * 6 + b'DD', paged)
        paged = self.same_answers([b'CADF', b'\x7fD\r'], [NO_DATA], setup=no_echoe)
        self.assertIn(b'Main menu: ENTER COMMAND [HELP]:CADF^?D', screen(paged), paged)
        # The erase among the keys given back shows as the erase typed after them does.
        for setup in (no_echoe, lambda mode: (no_echoe(mode), no_echoke(mode))):
            paged = self.same_answers([b'CADF\x7fD\r'], [NO_DATA], setup=setup)
            self.assertIn(b'Main menu: ENTER COMMAND [HELP]:CADF^?D', screen(paged), paged)
        paged = self.same_answers([b'FOO', b'\x15CADD\r'], [NO_DATA], setup=no_echoke)
        self.assertIn(b'Main menu: ENTER COMMAND [HELP]:FOO^U', screen(paged), paged)
        self.assertIn(b'CADD', screen(paged), paged)

    def test_signal_gives_the_terminal_its_line_mode_back(self):
        for term, keys_given_back in (('dumb', None), ('xterm', None), ('dumb', b'qCA')):
            for key, signal_number in ((b'\x03', signal.SIGINT), (b'\x1c', signal.SIGQUIT)):
                with self.subTest(term=term, given_back=keys_given_back, key=key):
                    t = Terminal(term)
                    try:
                        t.wait_for(MENU)
                        t.wait_for(b':')
                        t.settle()
                        t.type(b'?\r')
                        t.wait_for(PAGE)
                        t.settle()
                        if keys_given_back:
                            t.type(keys_given_back)
                            t.settle()
                        t.type(key)
                        t.settle(1.0)
                        mode = termios.tcgetattr(t.fd)
                        self.assertIsNotNone(t.status)
                        self.assertTrue(os.WIFSIGNALED(t.status))
                        self.assertEqual(os.WTERMSIG(t.status), signal_number)
                        line_mode = termios.ICANON | termios.ECHO
                        self.assertEqual(mode[3] & line_mode, line_mode)
                    finally:
                        t.close()


if __name__ == '__main__':
    KESTA = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
