'use strict';
// Connects the Vantorel collector as the statusLine command of one Antigravity profile.
//   node install-antigravity-statusline.cjs --config-dir <profile folder> --node <node path>
require('./statusline-installer.cjs').run('antigravity');
