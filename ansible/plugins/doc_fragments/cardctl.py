# The options every module of the collection passes on to cardctl.


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  cardctl:
    description: Path of C(cardctl) on the managed host; found on C(PATH) when not given.
    type: path
  driver:
    description: The communication driver library cardctl loads (its default when not given).
    type: path
  jobs:
    description: How many cards cardctl works on at once (every card when not given).
    type: int
  lang:
    description: Language of the messages cardctl gives for a card that failed or cannot be read.
    type: str
    default: en
    choices: [en, zh]
'''
