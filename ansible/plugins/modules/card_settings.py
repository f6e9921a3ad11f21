#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: card_settings
short_description: Bring LED controller cards' settings to the values asked
description:
  - Reads each card, plans only the settings that differ from I(settings), sends them,
    reads the card back and compares. A card that already holds every value gets no
    line at all, and the task reports C(ok).
  - Runs C(cardctl apply) on the managed host; values go to it as one JSON object.
  - A card that cannot be read, refuses a value, or does not hold a value after it was
    sent fails the host, naming each card and the settings that did not take. The
    other cards are still worked on.
version_added: "1.0.0"
options:
  cards:
    description:
      - The cards, as addresses or ranges (C(192.168.1.20-40), C(192.168.1.250-192.168.2.10)).
    type: list
    elements: str
    required: true
  settings:
    description:
      - Setting names as C(cardctl show) prints them, with their values; numbers as numbers,
        switches as booleans, list items as their text, English name or number
        (C(scan=1/8), C(card_role=sending)).
      - Only the settings given are compared and changed.
    type: dict
    required: true
extends_documentation_fragment:
  - ledcards.cards.cardctl
notes:
  - Check mode reads the cards and sends nothing; C(changed) says which cards would change.
  - Diff mode shows each changed setting's value before and after, card by card.
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
author:
  - CardSetup developers
'''

EXAMPLES = r'''
- name: Brightness and scan of the car park's signs
  ledcards.cards.card_settings:
    cards:
      - 192.168.1.20-23
      - 192.168.1.40
    settings:
      brightness: 25
      scan: "1/8"
      auto_ip: false

- name: What would change, without sending anything
  ledcards.cards.card_settings:
    cards: "{{ site_cards }}"
    settings: "{{ site_settings }}"
  check_mode: true
  diff: true
'''

RETURN = r'''
cards:
  description: Each card's result as cardctl reports it.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The card's address.
      type: str
      sample: 192.168.1.20
    result:
      description: C(changed), C(unchanged), C(would_change) (check mode), C(failed) or C(refused) (nothing sent).
      type: str
      sample: changed
    changed:
      description: The settings that change, each with C(from) and C(to).
      type: dict
      sample: {"brightness": {"from": 15, "to": 25}}
    failure:
      description: For a card that did not end as asked, the step, the message and the settings it does not hold (C(missing)).
      type: dict
      sample: {"step": "verify", "message": "...", "missing": ["brightness"]}
changed_cards:
  description: Addresses of the cards that changed (or would change, in check mode).
  returned: always
  type: list
  elements: str
  sample: [192.168.1.20]
not_taken:
  description: For each failed or refused card, the settings it does not hold (all asked for when it could not be read or refused).
  returned: always
  type: dict
  sample: {"192.168.1.21": ["brightness"]}
'''

import json

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ledcards.cards.plugins.module_utils.cardctl import (
    COMMON_ARGS, Cardctl, card_diff, cards_failing, failure_text)


def main():
    arguments = dict(cards=dict(type='list', elements='str', required=True),
                settings=dict(type='dict', required=True))
    arguments.update(COMMON_ARGS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True)
    if not module.params['settings']:
        module.exit_json(changed=False, cards=[], changed_cards=[], not_taken={})
    tool = Cardctl(module)
    args = ['-'] + tool.cards() + (['--check'] if module.check_mode else ['--yes'])
    rc, doc = tool.run('apply', args, data=json.dumps(module.params['settings']))
    if 'error' in doc:
        tool.refused('apply', rc, doc)
    cards = doc.get('cards', [])
    moved = [c for c in cards if c.get('result') in ('changed', 'would_change')]
    result = dict(changed=bool(moved), cards=cards, changed_cards=[c['address'] for c in moved], rc=rc)
    if module._diff:
        result['diff'] = [card_diff(c) for c in moved]
    bad = cards_failing(doc)
    asked = sorted(module.params['settings'])
    result['not_taken'] = dict((c['address'], (c.get('failure') or {}).get('missing') or asked) for c in bad)
    if bad or rc != 0:
        module.fail_json(msg='%d of %d card(s) did not take the settings: %s'
                         % (len(bad), len(cards), '; '.join(failure_text(c) for c in bad) or doc['_stderr'].strip()),
                         **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
