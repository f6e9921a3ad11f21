# -*- coding: utf-8 -*-
# Running cardctl on the managed host and reading its --json document.
# The modules never build a line for a card: cardctl plans, sends and reads
# back; they only choose the command and read the result.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# Options every module takes, merged into each module's argument_spec.
COMMON_ARGS = dict(
    cardctl=dict(type='path'),
    lang=dict(type='str', default='en', choices=['en', 'zh']),
    driver=dict(type='path'),
    jobs=dict(type='int'),
)

# cardctl's exit status: 0 done, 1 a card or file failed, 2 refused (nothing sent).
EXIT_OK, EXIT_FAILED, EXIT_REFUSED = 0, 1, 2

# The commands that work on several cards at once.
JOBS_COMMANDS = ('show', 'backup', 'apply', 'clone')

# A card's result in which the card did not end as asked.
BAD_RESULTS = ('failed', 'refused')


class Cardctl(object):
    def __init__(self, module):
        self.module = module
        path = module.params.get('cardctl')
        self.path = path if path else module.get_bin_path('cardctl', required=True)

    def cards(self):
        """The module's cards, each refused when cardctl would take it for an option."""
        cards = self.module.params['cards']
        for card in cards:
            if not card or card.startswith('-'):
                self.module.fail_json(msg='"%s" is not a card address or range' % card)
        return list(cards)

    def run(self, command, args, data=None):
        """Runs cardctl COMMAND ARGS --json; returns (exit status, document).

        Fails the module when cardctl printed no JSON document at all (it
        could not start, or was killed): nothing else can be said then.
        """
        p = self.module.params
        argv = [self.path, command] + list(args) + ['--json', '--lang', p['lang']]
        if p.get('driver'):
            argv += ['--driver', p['driver']]
        if p.get('jobs') and command in JOBS_COMMANDS:
            argv += ['--jobs', str(p['jobs'])]
        rc, out, err = self.module.run_command(argv, data=data, binary_data=data is not None)
        try:
            doc = json.loads(out)
        except ValueError:
            doc = None
        if not isinstance(doc, dict):
            self.module.fail_json(msg='cardctl %s printed no result (exit status %d): %s'
                                  % (command, rc, err.strip() or out.strip()),
                                  rc=rc, stderr=err, cmd=argv)
        doc['_stderr'] = err
        return rc, doc

    def refused(self, command, rc, doc):
        """Fails the module for a command cardctl refused as a whole."""
        self.module.fail_json(msg='cardctl %s refused: %s' % (command, doc.get('error') or doc['_stderr'].strip()),
                              rc=rc, stderr=doc['_stderr'])


def failure_text(card):
    """One line for a card that did not end as asked."""
    f = card.get('failure') or {}
    text = '%s: %s (at %s)' % (card.get('address'), f.get('message', card.get('result')),
                               f.get('step_text') or f.get('step', '?'))
    if f.get('missing'):
        text += '; not on the card: %s' % ', '.join(f['missing'])
    return text


def cards_failing(doc):
    return [c for c in doc.get('cards', []) if c.get('result') in BAD_RESULTS]


def value_text(value):
    """A field's value as one line of a diff."""
    if isinstance(value, (dict, list)):
        return json.dumps(value, sort_keys=True, ensure_ascii=False)
    if isinstance(value, bool):
        return 'true' if value else 'false'
    return '%s' % (value,)


def card_diff(card):
    """Ansible's diff for one card: before and after of each field it changes."""
    changed = card.get('changed') or {}
    before = ''.join('%s: %s\n' % (k, value_text(v.get('from'))) for k, v in changed.items())
    after = ''.join('%s: %s\n' % (k, value_text(v.get('to'))) for k, v in changed.items())
    if card.get('script_changed'):
        before += 'script: (on the card)\n'
        after += 'script: (from the backup)\n'
    for slot in card.get('programs_uploaded') or []:
        after += 'program%d: (from the backup)\n' % slot
    for slot in card.get('programs_deleted') or []:
        before += 'program%d: (on the card)\n' % slot
    return dict(before_header='%s (card)' % card.get('address'), after_header='%s (asked)' % card.get('address'),
                before=before, after=after)
