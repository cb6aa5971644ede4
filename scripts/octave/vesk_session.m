% Drives the extension built as an Octave MEX file against the simulated generator.
% Called by scripts/octave_vesk with the simulator's port in the variable `port`.
cfg.type = 'LAN';
cfg.LAN.address = '127.0.0.1';
cfg.LAN.port = int32(port);

[status, message] = vesk(int32(1), cfg);
printf('ping:      %d %s\n', status, message);

[status, reply] = vesk(int32(3), cfg, '*IDN?');
printf('query:     %d %s\n', status, reply);

n = 4000;
w = exp(1i * 2 * pi * (0:n-1) / 100) * 0.5;
markers = zeros(2, n);
markers(1, 1:10) = 1;
markers(2, :) = 1;
[status, message] = vesk(int32(4), cfg, w, markers, 'norm', 1, 'OCTAVE_TONE');
printf('download:  %d %s\n', status, message);

[status, reply] = vesk(int32(3), cfg, ':mmem:cat? "ARBI:"');
printf('catalogue: %d %s\n', status, reply);

[status, message] = vesk(int32(2), cfg, ':SOUR:RAD:ARB:STATe ON');
printf('send:      %d %s\n', status, message);

vesk(int32(999));
printf('released\n');
[status, message] = vesk(int32(1), cfg);
printf('ping again: %d %s\n', status, message);
vesk(int32(999));
