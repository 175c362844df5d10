#!/usr/bin/env python3
"""Re-writes the body of a document a browser dumped (chromium --dump-dom) in
plain ASCII for the log's tests: every element inside the body as a tag with
its attributes, comments as <!comment>, text with '&', '<', '>' and '"' as
entities and every character outside printable ASCII as a numeric
reference. Only the standard library.

    log_dom.py DUMP.html > BODY.txt
"""
import sys
from html.parser import HTMLParser


def ascii_text(text):
    out = []
    for c in text:
        if c == '&':
            out.append('&amp;')
        elif c == '<':
            out.append('&lt;')
        elif c == '>':
            out.append('&gt;')
        elif c == '"':
            out.append('&quot;')
        elif ' ' <= c <= '~':
            out.append(c)
        else:
            out.append('&#%d;' % ord(c))
    return ''.join(out)


class Body(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.depth = 0  # inside the body while > 0
        self.out = []

    def handle_starttag(self, tag, attrs):
        if tag == 'body':
            self.depth += 1
        elif self.depth:
            shown = ''.join(' %s="%s"' % (name, ascii_text(value or '')) for name, value in attrs)
            self.out.append('<%s%s>' % (tag, shown))

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)

    def handle_endtag(self, tag):
        if tag == 'body':
            self.depth = max(0, self.depth - 1)
        elif self.depth:
            self.out.append('</%s>' % tag)

    def handle_data(self, data):
        if self.depth:
            self.out.append(ascii_text(data))

    def handle_comment(self, data):
        if self.depth:
            self.out.append('<!comment>')

    def unknown_decl(self, data):
        if self.depth:
            self.out.append('<!declaration>')

    def handle_pi(self, data):
        if self.depth:
            self.out.append('<?instruction>')


def main():
    with open(sys.argv[1], encoding='utf-8') as dump:
        parser = Body()
        parser.feed(dump.read())
        parser.close()
    sys.stdout.write(''.join(parser.out))


if __name__ == '__main__':
    main()
