'use strict';
// Connects the Vantorel collector as the statusLine command of one Claude Code profile.
//   node install-claude-statusline.cjs --config-dir <profile folder> --node <node path>
require('./statusline-installer.cjs').run('claude');
